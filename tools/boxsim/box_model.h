#pragma once

#include <string>

// What a switch box does with one command (without its carriage return): it changes its state
// and may answer. The answer ends with a carriage return; an empty answer means silence.
class BoxModel {
public:
    enum class CommandSet { Otrsp, Mk2r };
    explicit BoxModel(CommandSet set) : set_(set) {}

    std::string handle(const std::string& command);

    int tx() const { return tx_; }
    const std::string& rx() const { return rx_; }
    int aux(int radio) const { return aux_[radio - 1]; }

    static constexpr const char* Version = "1.2";

private:
    std::string otrsp(const std::string& command);
    std::string mk2r(const std::string& command);
    bool setAux(int radio, const std::string& digits);

    CommandSet set_;
    int tx_ = 1;
    std::string rx_ = "1";
    int aux_[2] = {0, 0};
};
