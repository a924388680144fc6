#include "link/SerialPortDriver.h"

#include "link/LinuxSerialPlatform.h"
#include "link/LinuxSerialPortDirectory.h"

#include <algorithm>
#include <array>
#include <utility>

namespace qm45 {

namespace {

constexpr std::array<std::uint32_t, 13> kBaudTable = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

// A read waits at most about 1 ms: the poll must never hold up the window.
constexpr SerialTimeouts kReadTimeouts{1, 0, 1, 0, 0};

} // namespace

TSerialPortDriver::TSerialPortDriver(QObject* parent, std::unique_ptr<SerialPlatform> platform,
                                     std::shared_ptr<SerialPortDirectory> ports)
    : QObject(parent), Platform_(std::move(platform)), Ports_(std::move(ports)),
      ReceiveBuffer_(ComPortInBufSize_), PollTimer_(this) {
    if (!Platform_)
        Platform_ = std::make_unique<LinuxSerialPlatform>();
    if (!Ports_)
        Ports_ = std::make_shared<LinuxSerialPortDirectory>();
    connect(&PollTimer_, &QTimer::timeout, this, &TSerialPortDriver::PollReceive);
}

TSerialPortDriver::~TSerialPortDriver() {
    ClosePort();
}

bool TSerialPortDriver::OpenPort() {
    if (IsOpen())
        return true;
    const QString device = devicePathFor(ComPort_);
    if (device.isEmpty()) {
        Handle_ = SerialPlatform::InvalidHandle;
        LastOpenFailure_ = {};
        LastOpenFailure_.reason = SerialOpenError::NoSuchDevice;
        return false;
    }
    const SerialPlatform::OpenResult opened = Platform_->openExclusive(device);
    Handle_ = opened.handle;
    LastOpenFailure_ = opened.failure;
    if (!IsOpen()) {
        if (LastOpenFailure_.reason == SerialOpenError::None)
            LastOpenFailure_.reason = SerialOpenError::Other;
        LastOpenFailure_.device = device;
        return false;
    }
    LastOpenFailure_ = {};
    OpenDevice_ = device;
    ApplyLineSettings();
    Platform_->setTimeouts(*Handle_, kReadTimeouts);
    startPolling();
    return true;
}

void TSerialPortDriver::ClosePort() {
    if (!IsOpen())
        return;
    PollTimer_.stop();
    Platform_->close(*Handle_);
    Handle_.reset();
}

bool TSerialPortDriver::IsOpen() const {
    return Handle_.has_value() && *Handle_ != SerialPlatform::InvalidHandle;
}

void TSerialPortDriver::ApplyLineSettings() {
    if (!IsOpen())
        return;
    SerialLineSettings settings;
    settings.baudRate = kBaudTable.at(static_cast<std::size_t>(ComPortSpeed_));
    settings.byteSize = static_cast<std::uint8_t>(5 + ComPortDataBits_);
    settings.parity = static_cast<std::uint8_t>(ComPortParity_);
    settings.stopBits = static_cast<std::uint8_t>(ComPortStopBits_);
    settings.rtsCtsHandshake = ComPortHwHandshaking_ == hhRTSCTS;
    settings.xonXoffHandshake = ComPortSwHandshaking_ == shXONXOFF;
    settings.dtrEnabled = EnableDTROnOpen_;
    settings.xonLimit = static_cast<std::uint16_t>(ComPortInBufSize_ / 4);
    settings.xoffLimit = 1;
    Platform_->setLineState(*Handle_, settings);
    // Bytes received under the old settings are not worth decoding.
    PurgeBuffers(true, true);
    Platform_->setQueueSizes(*Handle_, ComPortInBufSize_, ComPortOutBufSize_);
}

void TSerialPortDriver::PurgeBuffers(bool input, bool output) {
    if (!IsOpen())
        return;
    Platform_->purge(*Handle_, input, output);
}

void TSerialPortDriver::PollReceive() {
    if (!IsOpen())
        return;
    // A failed read delivers nothing and polling goes on. A port that has
    // gone (an unplugged adapter, a pty whose master has closed) is closed
    // here, which stops the polling, and reported once.
    const std::int32_t count = Platform_->read(*Handle_, ReceiveBuffer_.data(),
                                               static_cast<std::int32_t>(ReceiveBuffer_.size()));
    if (count == SerialPlatform::PortGone) {
        ClosePort();
        // Copied: the handler may replace itself or reopen the port.
        if (const TComPortLostEvent handler = OnPortLost_)
            handler(this, OpenDevice_);
        return;
    }
    if (count > 0 && OnReceiveData_)
        OnReceiveData_(this, ReceiveBuffer_.data(), count);
}

void TSerialPortDriver::setComPort(TComPortNumber port) {
    if (IsOpen())
        return;
    ComPort_ = port;
}

void TSerialPortDriver::setComPortSpeed(TComPortBaudRate speed) {
    ComPortSpeed_ = speed;
    ApplyLineSettings();
}

void TSerialPortDriver::setComPortDataBits(TComPortDataBits bits) {
    ComPortDataBits_ = bits;
    ApplyLineSettings();
}

void TSerialPortDriver::setComPortStopBits(TComPortStopBits bits) {
    ComPortStopBits_ = bits;
    ApplyLineSettings();
}

void TSerialPortDriver::setComPortParity(TComPortParity parity) {
    ComPortParity_ = parity;
    ApplyLineSettings();
}

void TSerialPortDriver::setComPortHwHandshaking(TComPortHwHandshaking handshaking) {
    ComPortHwHandshaking_ = handshaking;
    ApplyLineSettings();
}

void TSerialPortDriver::setComPortSwHandshaking(TComPortSwHandshaking handshaking) {
    ComPortSwHandshaking_ = handshaking;
    ApplyLineSettings();
}

void TSerialPortDriver::setComPortInBufSize(std::uint16_t size) {
    // The open port's receive queue was sized from the old value; a new size
    // takes effect with the next OpenPort. Same size: the buffer is kept.
    if (IsOpen() || size == ComPortInBufSize_)
        return;
    ComPortInBufSize_ = size;
    ReceiveBuffer_ = std::vector<std::uint8_t>(size);
}

void TSerialPortDriver::setComPortOutBufSize(std::uint16_t size) {
    ComPortOutBufSize_ = size;
}

void TSerialPortDriver::setComPortPollingDelay(std::uint16_t delay) {
    if (delay == ComPortPollingDelay_)
        return;
    const bool restart = IsOpen();
    if (restart)
        PollTimer_.stop();
    ComPortPollingDelay_ = delay;
    if (restart)
        startPolling();
}

void TSerialPortDriver::setEnableDTROnOpen(bool enable) {
    EnableDTROnOpen_ = enable;
}

void TSerialPortDriver::setOnReceiveData(TComPortReceiveDataEvent handler) {
    OnReceiveData_ = std::move(handler);
}

void TSerialPortDriver::setOnPortLost(TComPortLostEvent handler) {
    OnPortLost_ = std::move(handler);
}

QString TSerialPortDriver::devicePathFor(TComPortNumber port) const {
    return Ports_->devicePathFor(static_cast<int>(port) + 1);
}

void TSerialPortDriver::startPolling() {
    // A zero interval would make QTimer fire on every pass of the event loop
    // and spin a core; 1 ms is the floor.
    PollTimer_.start(std::max<int>(ComPortPollingDelay_, 1));
}

} // namespace qm45
