#include "box_model.h"

#include <cctype>

namespace {
bool isDigits(const std::string& s)
{
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return !s.empty();
}
} // namespace

std::string BoxModel::handle(const std::string& command)
{
    return set_ == CommandSet::Otrsp ? otrsp(command) : mk2r(command);
}

bool BoxModel::setAux(int radio, const std::string& digits)
{
    if (digits.size() != 2 || !isDigits(digits))
        return false;
    const int output = std::stoi(digits);
    if (output > 15)
        return false;
    aux_[radio - 1] = output;
    return true;
}

std::string BoxModel::otrsp(const std::string& command)
{
    if (!command.empty() && command[0] == '?') {
        if (command == "?TX")
            return "TX" + std::to_string(tx_) + "\r";
        if (command == "?RX")
            return "RX" + rx_ + "\r";
        if (command == "?FW")
            return std::string("FW") + Version + "\r";
        // Any other query, a bare "?" included, comes back whole.
        return command + "\r";
    }
    if (command == "TX1" || command == "TX2")
        tx_ = command[2] - '0';
    else if (command == "RX1" || command == "RX2" || command == "RX1S" || command == "RX2S")
        rx_ = command.substr(2);
    else if (command.size() == 6 && command.compare(0, 3, "AUX") == 0 &&
             (command[3] == '1' || command[3] == '2'))
        setAux(command[3] - '0', command.substr(4));
    // Unknown commands are ignored.
    return {};
}

std::string BoxModel::mk2r(const std::string& command)
{
    if (command == "FT1" || command == "FT2") {
        tx_ = command[2] - '0';
        return {};
    }
    if (command == "FR1" || command == "FR2") {
        rx_ = command.substr(2);
        return {};
    }
    if (command == "FRS") {
        rx_ = "1S";
        return {};
    }
    if (command.size() == 5 && command.compare(0, 2, "AS") == 0 &&
        (command[2] == '1' || command[2] == '2') && setAux(command[2] - '0', command.substr(3)))
        return {};
    if (command == "V")
        return std::string("MK2R simulator version ") + Version + "\r";
    return "E" + command + "\r";
}
