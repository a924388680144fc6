#pragma once

#include <QString>

#include <cstdint>

namespace qm45 {

// Everything the driver asks of the line in one record, built afresh by each
// ApplyLineSettings. A platform without an equivalent for a field ignores it.
struct SerialLineSettings {
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 8;     // 5..8
    std::uint8_t parity = 0;       // TComPortParity: 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0;     // TComPortStopBits: 0 one, 1 one and a half, 2 two
    bool rtsCtsHandshake = false;  // off: RTS held low, CTS ignored
    bool xonXoffHandshake = false; // both directions
    bool dtrEnabled = true;        // off: DTR held low
    // Receive-queue fill levels at which XOFF / XON are sent.
    std::uint16_t xonLimit = 0;
    std::uint16_t xoffLimit = 0;
};

struct SerialTimeouts {
    std::uint32_t readIntervalMs = 0;
    std::uint32_t readTotalMultiplierMs = 0;
    std::uint32_t readTotalConstantMs = 0;
    std::uint32_t writeTotalMultiplierMs = 0;
    std::uint32_t writeTotalConstantMs = 0;
};

// Why a serial device could not be opened.
enum class SerialOpenError {
    None,
    NoSuchDevice, // no device node (or no COM number mapped), or not a serial device
    NotSerial,    // the path exists but is no serial device
    InUse,        // another program holds it: a live lock file, an exclusive open
    Console,      // the kernel writes its console to it
    NoPermission, // the user may not open it (not in the group owning it)
    Other,        // any other refusal; errorCode says which
};

struct SerialOpenFailure {
    SerialOpenError reason = SerialOpenError::None;
    QString device;       // the device path asked for; empty when none was mapped
    std::int64_t pid = 0; // InUse through a lock file: the holder; 0 when unknown
    QString command;      // the holder's command name, when known
    int errorCode = 0;    // the system's error number, when there was one
};

// The operating-system side of the serial driver. Called on the main thread
// only. Results the driver does not check are not returned.
class SerialPlatform {
public:
    using Handle = std::intptr_t;
    static constexpr Handle InvalidHandle = -1;
    // What read() returns besides a byte count.
    static constexpr std::int32_t ReadFailed = -1; // this read failed; the port may recover
    static constexpr std::int32_t PortGone = -2;   // the device has gone (hang-up, unplugged)

    struct OpenResult {
        Handle handle = InvalidHandle;
        SerialOpenFailure failure; // reason None when handle is valid
    };

    virtual ~SerialPlatform() = default;

    // Opens an existing serial device for reading and writing, refused to every
    // other opener while held. An invalid handle with the reason when it is
    // missing, busy, the console, forbidden or not a serial device.
    [[nodiscard]] virtual OpenResult openExclusive(const QString& device) = 0;
    virtual void setLineState(Handle handle, const SerialLineSettings& settings) = 0;
    // Aborts pending transfers and discards the queued bytes of the chosen sides.
    virtual void purge(Handle handle, bool input, bool output) = 0;
    virtual void setQueueSizes(Handle handle, std::uint32_t inputSize,
                               std::uint32_t outputSize) = 0;
    virtual void setTimeouts(Handle handle, const SerialTimeouts& timeouts) = 0;
    // Bytes read (0 when nothing has arrived), ReadFailed or PortGone. Never
    // waits longer than the read timeouts allow.
    [[nodiscard]] virtual std::int32_t read(Handle handle, std::uint8_t* buffer,
                                            std::int32_t capacity) = 0;
    virtual void close(Handle handle) = 0;
};

} // namespace qm45
