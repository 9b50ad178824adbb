// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_serial_port.h"

#include "event_gate.h"
#include "linecode/hang_up.h"
#include "platform/runtime_error.h"
#include "platform/serial_devices.h"

#include <QDir>
#include <QMap>
#include <QSerialPortInfo>
#include <QStringList>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Received bursts that wait for the window (while a handler or its modal box runs) are kept up
// to this many bytes; past it the oldest go. The pane shows far less than this anyway.
constexpr qsizetype HeldBytesLimit = qsizetype(64) * 1024;
constexpr int BurstsPerTurn = 32;

struct LineSettings {
    qint32 baud;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};

LineSettings parseLineSettings(const QString& text)
{
    const QStringList fields = text.split(',');
    const auto invalid = [&] {
        return RuntimeError(ErrorNumber::InvalidPropertyValue,
                            QString("Invalid property value: line settings \"%1\" are not "
                                    "\"baud,parity,data bits,stop bits\" such as \"9600,N,8,1\"")
                                .arg(text));
    };
    if (fields.size() != 4)
        throw invalid();
    bool ok = false;
    LineSettings s{};
    s.baud = fields[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0)
        throw invalid();
    static const std::map<QString, QSerialPort::Parity> parities = {
        {"N", QSerialPort::NoParity},
        {"E", QSerialPort::EvenParity},
        {"O", QSerialPort::OddParity},
        {"M", QSerialPort::MarkParity},
        {"S", QSerialPort::SpaceParity}};
    static const std::map<QString, QSerialPort::StopBits> stopBits = {
        {"1", QSerialPort::OneStop},
        {"1.5", QSerialPort::OneAndHalfStop},
        {"2", QSerialPort::TwoStop}};
    const auto parity = parities.find(fields[1].trimmed().toUpper());
    const auto stop = stopBits.find(fields[3].trimmed());
    const int bits = fields[2].trimmed().toInt(&ok);
    if (parity == parities.end() || stop == stopBits.end() || !ok || bits < 5 || bits > 8)
        throw invalid();
    s.parity = parity->second;
    s.stopBits = stop->second;
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);
    return s;
}

} // namespace

QtSerialPort::QtSerialPort(const SerialDeviceMap& devices, EventGate& gate)
    : devices_(devices), gate_(gate),
      bursts_([this](const QByteArray& burst) { burstArrived(burst); })
{
    QObject::connect(&port_, &QSerialPort::readyRead, [this] { bursts_.take(port_.readAll()); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError ||
            (e == QSerialPort::ReadError && lineHungUp(port_.handle())))
            deviceLost();
    });
}

QtSerialPort::~QtSerialPort()
{
    if (port_.isOpen())
        port_.close();
}

QString QtSerialPort::devicePath() const
{
    return port_.isOpen() ? openDevice_ : devices_.deviceFor(commPort_);
}

QString QtSerialPort::portName() const
{
    return QString("COM%1 (%2)").arg(commPort_).arg(devicePath());
}

void QtSerialPort::setCommPort(int number)
{
    if (port_.isOpen())
        throw RuntimeError(
            ErrorNumber::PortAlreadyOpen,
            QString("Port already open: close %1 before choosing another port").arg(portName()));
    if (number < 1 || number > 16)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QString("Invalid port number %1: choose COM1 to COM16").arg(number));
    commPort_ = number;
}

void QtSerialPort::setPortOpen(bool open)
{
    if (!open) {
        if (port_.isOpen())
            port_.close();
        forgetReceived();
        return;
    }
    if (port_.isOpen())
        throw RuntimeError(ErrorNumber::PortAlreadyOpen,
                           QString("Port already open: %1 is open").arg(portName()));
    this->open();
}

void QtSerialPort::open()
{
    const QString path = devices_.deviceFor(commPort_);
    const QString com = QString("COM%1").arg(commPort_);
    const QString remap =
        QString("or map %1 to the box's device with a line \"%1=/dev/ttyUSB0\" under "
                "[serial ports] in %2")
            .arg(com, devices_.location());
    const QString noAccess =
        QString("Permission denied: %1 (%2) may not be opened by this user. Add yourself to the "
                "dialout group (sudo adduser $USER dialout), log out and in again, then choose "
                "the port again")
            .arg(com, path);

    if (!path.startsWith('/'))
        throw RuntimeError(ErrorNumber::DeviceMissing,
                           QString("Device path not absolute: %1 is mapped to \"%2\" under "
                                   "[serial ports] in %3. Write the device's full path there, "
                                   "such as %1=/dev/ttyUSB0, then choose the port again")
                               .arg(com, path, devices_.location()));
    struct stat info {};
    if (::stat(path.toLocal8Bit().constData(), &info) != 0) {
        if (errno == EACCES)
            throw RuntimeError(ErrorNumber::DeviceUnavailable, noAccess);
        throw RuntimeError(ErrorNumber::DeviceMissing,
                           QString("Device missing: %1 (%2) does not exist. Plug in the switch "
                                   "box's serial adapter and choose the port again, %3")
                               .arg(com, path, remap));
    }
    if (!S_ISCHR(info.st_mode))
        throw RuntimeError(ErrorNumber::DeviceMissing,
                           QString("Not a serial device: %1 (%2) is no serial port. Choose the "
                                   "port that the box is connected to, %3")
                               .arg(com, path, remap));

    port_.setPortName(path);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_.error();
        const QString reason = port_.errorString();
        port_.clearError();
        if (error == QSerialPort::PermissionError) {
            if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) != 0)
                throw RuntimeError(ErrorNumber::DeviceUnavailable, noAccess);
            throw RuntimeError(ErrorNumber::DeviceUnavailable,
                               QString("Device busy: %1 (%2) is in use by another program. Close "
                                       "that program, then choose the port again")
                                   .arg(com, path));
        }
        throw RuntimeError(
            ErrorNumber::DeviceMissing,
            QString("Cannot open %1 (%2): %3. Check the device, %4").arg(com, path, reason, remap));
    }
    openDevice_ = path;
    lost_ = false;
    forgetReceived();
    port_.setFlowControl(QSerialPort::NoFlowControl);
    try {
        applyLineSettings();
    } catch (const RuntimeError&) {
        // The port opens at whatever settings it has; the caller sets the line settings next.
        port_.clearError();
    }
    // A device without modem lines (a pty, some USB adapters) refuses these; it still works.
    setDTREnable(dtr_);
    setRTSEnable(rts_);
    port_.clearError();
}

void QtSerialPort::applyLineSettings()
{
    const LineSettings s = parseLineSettings(settings_);
    const bool ok = port_.setBaudRate(s.baud) && port_.setParity(s.parity) &&
                    port_.setDataBits(s.dataBits) && port_.setStopBits(s.stopBits) &&
                    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        const QString reason = port_.errorString();
        port_.clearError();
        throw RuntimeError(ErrorNumber::LineSettingsRefused,
                           QString("Line settings refused: %1 does not take \"%2\" (%3). Check "
                                   "that the port is a serial adapter")
                               .arg(portName(), settings_, reason));
    }
}

void QtSerialPort::setSettings(const QString& settings)
{
    parseLineSettings(settings);
    settings_ = settings;
    if (port_.isOpen())
        applyLineSettings();
}

void QtSerialPort::setDTREnable(bool on)
{
    dtr_ = on;
    if (port_.isOpen() && !port_.setDataTerminalReady(on))
        port_.clearError();
}

void QtSerialPort::setRTSEnable(bool on)
{
    rts_ = on;
    if (port_.isOpen() && !port_.setRequestToSend(on))
        port_.clearError();
}

void QtSerialPort::output(const QString& text)
{
    if (!port_.isOpen()) {
        if (lost_)
            throw RuntimeError(ErrorNumber::PortNotOpen,
                               QString("Operation valid only when the port is open: %1 was "
                                       "disconnected. Plug it back in and choose the port again "
                                       "from the Port menu")
                                   .arg(portName()));
        throw RuntimeError(ErrorNumber::PortNotOpen,
                           QString("Operation valid only when the port is open: %1 is not open. "
                                   "Choose the port from the Port menu")
                               .arg(portName()));
    }
    port_.write(text.toLatin1());
    port_.flush();
    if (lost_ || port_.error() == QSerialPort::ResourceError ||
        port_.error() == QSerialPort::WriteError) {
        deviceLost();
        throw RuntimeError(ErrorNumber::PortNotOpen,
                           QString("Operation valid only when the port is open: %1 was "
                                   "disconnected while writing. Plug it back in and choose the "
                                   "port again from the Port menu")
                               .arg(portName()));
    }
}

QString QtSerialPort::input()
{
    return QString::fromLatin1(std::exchange(delivered_, {}));
}

int QtSerialPort::inBufferCount() const
{
    return int(heldBytes_ + bursts_.partialSize() + delivered_.size());
}

void QtSerialPort::burstArrived(const QByteArray& burst)
{
    heldBytes_ += burst.size();
    held_.push_back(burst);
    while (heldBytes_ > HeldBytesLimit) {
        heldBytes_ -= held_.front().size();
        held_.pop_front();
    }
    raiseReceive();
}

void QtSerialPort::raiseReceive()
{
    // One posted call waits at a time. It hands the waiting bursts to the window one receive
    // event each, in order, a few at a turn of the event loop: what piled up behind a message
    // box comes at once, and the window still repaints and takes clicks in between.
    if (rThreshold_ <= 0 || !handler_ || receivePending_ || held_.empty())
        return;
    receivePending_ = true;
    gate_.post(&port_, [this] {
        receivePending_ = false;
        for (int n = 0; n < BurstsPerTurn && !held_.empty(); ++n) {
            delivered_ = held_.front();
            heldBytes_ -= delivered_.size();
            held_.pop_front();
            commEvent_ = EventReceive;
            handler_();
            delivered_.clear();
        }
        raiseReceive();
    });
}

void QtSerialPort::forgetReceived()
{
    bursts_.clear();
    held_.clear();
    heldBytes_ = 0;
}

void QtSerialPort::deviceLost()
{
    if (lost_)
        return;
    lost_ = true;
    forgetReceived();
    // Closed after the current signal has been handled, never inside QSerialPort's own call;
    // the descriptor goes with it, so a hung-up line stops waking the program.
    QTimer::singleShot(0, &closer_, [this] {
        if (port_.isOpen())
            port_.close();
        port_.clearError();
    });
}

std::vector<PresentDevice> QtSerialPort::presentDevices() const
{
    // A /dev/serial/by-id link names the same adapter whichever USB socket it is plugged into.
    QMap<QString, QString> byId; // device -> its link
    const QDir links("/dev/serial/by-id");
    for (const QFileInfo& link : links.entryInfoList(QDir::System | QDir::Files))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());
    std::vector<PresentDevice> present;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        QString description = port.description();
        if (!port.serialNumber().isEmpty())
            description += QString(" (serial number %1)").arg(port.serialNumber());
        present.push_back({byId.value(port.systemLocation(), port.systemLocation()),
                           description.trimmed()});
    }
    return present;
}
