#pragma once

// Public surface of the serial port driver used by the window. The platform
// seam (SerialPlatform) and the port directory (SerialPortDirectory) are
// declared in their own headers.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qm45 {

class SerialPlatform;
class SerialPortDirectory;

enum TComPortNumber { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };
enum TComPortBaudRate {
    br110, br300, br600, br1200, br2400, br4800, br9600,
    br14400, br19200, br38400, br56000, br57600, br115200
};
enum TComPortDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
enum TComPortStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
enum TComPortParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TComPortHwHandshaking { hhNONE, hhRTSCTS };
enum TComPortSwHandshaking { shNONE, shXONXOFF };

class TSerialPortDriver;
using TComPortReceiveDataEvent =
    std::function<void(TSerialPortDriver* Sender, const std::uint8_t* DataPtr, std::int32_t DataSize)>;

// Opens COM1..COM4 and polls it from a timer on the main thread.
// (Full declaration is written by the driver's implementation.)
class TSerialPortDriver : public QObject {
    Q_OBJECT
public:
    // Null arguments select the real platform and the machine's port directory.
    explicit TSerialPortDriver(QObject* parent = nullptr,
                               std::unique_ptr<SerialPlatform> platform = nullptr,
                               std::shared_ptr<SerialPortDirectory> ports = nullptr);
    ~TSerialPortDriver() override;

    bool OpenPort();
    void ClosePort();
    [[nodiscard]] bool IsOpen() const;
    void ApplyLineSettings();
    void PurgeBuffers(bool input, bool output);
    void PollReceive();

    [[nodiscard]] TComPortNumber ComPort() const;
    void setComPort(TComPortNumber port);
    [[nodiscard]] TComPortBaudRate ComPortSpeed() const;
    void setComPortSpeed(TComPortBaudRate speed);
    // ... remaining settings as listed in the driver's table

    void setOnReceiveData(TComPortReceiveDataEvent handler);

    // The device "COM n" opens right now, e.g. "/dev/ttyUSB0", or empty when
    // there is no such port. Used for the selector's hint.
    [[nodiscard]] QString devicePathFor(TComPortNumber port) const;
};

} // namespace qm45
