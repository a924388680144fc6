#pragma once

#include "link/SerialPlatform.h"
#include "link/SerialPortDirectory.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace qm45 {

// The ordinals are the values the line settings use: the speed ordinal indexes
// the baud table, data bits are 5 + ordinal, parity and stop bits go through as
// they are.
enum TComPortNumber { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };
enum TComPortBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};
enum TComPortDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
enum TComPortStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
enum TComPortParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TComPortHwHandshaking { hhNONE, hhRTSCTS };
enum TComPortSwHandshaking { shNONE, shXONXOFF };

class TSerialPortDriver;
// DataPtr points into the driver's receive buffer and is valid only during the
// call; DataSize is at least 1.
using TComPortReceiveDataEvent = std::function<void(
    TSerialPortDriver* Sender, const std::uint8_t* DataPtr, std::int32_t DataSize)>;

// The open port has gone (adapter pulled out, line hung up). The driver has
// closed it already; device is the path it had opened.
using TComPortLostEvent = std::function<void(TSerialPortDriver* Sender, const QString& device)>;

// Opens COM1..COM4 and polls it from a timer. Lives on the main thread: every
// method, every tick and every OnReceiveData call run there, so nothing is
// locked. The driver only receives.
class TSerialPortDriver : public QObject {
    Q_OBJECT
public:
    // Null arguments select the real platform and the machine's port directory.
    explicit TSerialPortDriver(QObject* parent = nullptr,
                               std::unique_ptr<SerialPlatform> platform = nullptr,
                               std::shared_ptr<SerialPortDirectory> ports = nullptr);
    ~TSerialPortDriver() override;

    TSerialPortDriver(const TSerialPortDriver&) = delete;
    TSerialPortDriver& operator=(const TSerialPortDriver&) = delete;

    // True when the port is open, also when it already was (nothing is redone
    // then). False for a missing, busy or forbidden port, without any message;
    // LastOpenFailure says why.
    bool OpenPort();
    // Why the last OpenPort failed; reason None after one that succeeded.
    [[nodiscard]] const SerialOpenFailure& LastOpenFailure() const { return LastOpenFailure_; }
    // The device the open port uses, or the last one it used.
    [[nodiscard]] const QString& OpenDevice() const { return OpenDevice_; }
    void ClosePort();
    [[nodiscard]] bool IsOpen() const;
    // Writes the line settings to the open port and discards whatever is queued
    // in both directions.
    void ApplyLineSettings();
    void PurgeBuffers(bool input, bool output);
    void PollReceive();

    // Ignored while the port is open.
    [[nodiscard]] TComPortNumber ComPort() const { return ComPort_; }
    void setComPort(TComPortNumber port);

    // The line setters store the value and, while the port is open, apply the
    // line settings at once (which discards queued bytes).
    [[nodiscard]] TComPortBaudRate ComPortSpeed() const { return ComPortSpeed_; }
    void setComPortSpeed(TComPortBaudRate speed);
    [[nodiscard]] TComPortDataBits ComPortDataBits() const { return ComPortDataBits_; }
    void setComPortDataBits(TComPortDataBits bits);
    [[nodiscard]] TComPortStopBits ComPortStopBits() const { return ComPortStopBits_; }
    void setComPortStopBits(TComPortStopBits bits);
    [[nodiscard]] TComPortParity ComPortParity() const { return ComPortParity_; }
    void setComPortParity(TComPortParity parity);
    [[nodiscard]] TComPortHwHandshaking ComPortHwHandshaking() const {
        return ComPortHwHandshaking_;
    }
    void setComPortHwHandshaking(TComPortHwHandshaking handshaking);
    [[nodiscard]] TComPortSwHandshaking ComPortSwHandshaking() const {
        return ComPortSwHandshaking_;
    }
    void setComPortSwHandshaking(TComPortSwHandshaking handshaking);

    // Receive queue and ReceiveBuffer size in bytes. Ignored while the port is open.
    [[nodiscard]] std::uint16_t ComPortInBufSize() const { return ComPortInBufSize_; }
    void setComPortInBufSize(std::uint16_t size);

    // Transmit queue size. Accepted in either state; used at the next ApplyLineSettings.
    [[nodiscard]] std::uint16_t ComPortOutBufSize() const { return ComPortOutBufSize_; }
    void setComPortOutBufSize(std::uint16_t size);

    // Milliseconds between two polls. While open, a new value restarts the timer.
    [[nodiscard]] std::uint16_t ComPortPollingDelay() const { return ComPortPollingDelay_; }
    void setComPortPollingDelay(std::uint16_t delay);

    // Stored only; used at the next ApplyLineSettings.
    [[nodiscard]] bool EnableDTROnOpen() const { return EnableDTROnOpen_; }
    void setEnableDTROnOpen(bool enable);

    [[nodiscard]] const TComPortReceiveDataEvent& OnReceiveData() const { return OnReceiveData_; }
    void setOnReceiveData(TComPortReceiveDataEvent handler);

    // Told once when the open port disappears; the port is closed by then.
    // A port that merely goes quiet is not lost.
    [[nodiscard]] const TComPortLostEvent& OnPortLost() const { return OnPortLost_; }
    void setOnPortLost(TComPortLostEvent handler);

    // The device "COM n" opens right now, e.g. "/dev/ttyUSB0", or empty when
    // there is no such port. Used for the selector's hint.
    [[nodiscard]] QString devicePathFor(TComPortNumber port) const;

private:
    void startPolling();

    std::unique_ptr<SerialPlatform> Platform_;
    std::shared_ptr<SerialPortDirectory> Ports_;

    TComPortNumber ComPort_ = pnCOM2;
    TComPortBaudRate ComPortSpeed_ = br9600;
    TComPortDataBits ComPortDataBits_ = db8BITS;
    TComPortStopBits ComPortStopBits_ = sb1BITS;
    TComPortParity ComPortParity_ = ptNONE;
    TComPortHwHandshaking ComPortHwHandshaking_ = hhNONE;
    TComPortSwHandshaking ComPortSwHandshaking_ = shNONE;
    std::uint16_t ComPortInBufSize_ = 2048;
    std::uint16_t ComPortOutBufSize_ = 2048;
    std::uint16_t ComPortPollingDelay_ = 50;
    bool EnableDTROnOpen_ = true;
    TComPortReceiveDataEvent OnReceiveData_;
    TComPortLostEvent OnPortLost_;
    SerialOpenFailure LastOpenFailure_;
    QString OpenDevice_;

    // Empty until the first OpenPort; the platform's invalid value after a failed one.
    std::optional<SerialPlatform::Handle> Handle_;
    std::vector<std::uint8_t> ReceiveBuffer_;
    QTimer PollTimer_;
};

} // namespace qm45
