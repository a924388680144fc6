#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qm45 {

// One HID interface as a scan finds it.
struct HidInterface {
    QString path;     // what open() takes, e.g. "/dev/hidraw3"
    QString identity; // stays the same while the device stays attached; a re-plug gives a new one
};

enum class HidAccess {
    ReadWrite, // queries, feature reports
    Read,      // input reports only
    NoData     // identification and strings, no transfers
};

struct HidAttributes {
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

// A string lookup writes UTF-16 units into a buffer of this many; a USB string
// descriptor holds at most 126, so the units after the text keep whatever the
// caller filled in beforehand unless the platform writes a terminating zero.
using HidString = std::array<char16_t, 254>;

struct HidOpenResult {
    std::intptr_t handle = -1;
    std::uint32_t error = 0; // platform error code when handle is invalid
};

struct HidReadResult {
    enum class Status {
        Completed, // bytes holds the report length, report-ID byte included (0: nothing came)
        Pending,   // the wait ran out; nothing was consumed, so asking again loses nothing
        Refused    // the request failed; error holds the platform's code
    };
    Status status = Status::Pending;
    std::int32_t bytes = 0;
    std::uint32_t error = 0;
};

// The system's HID layer as the device controller and its devices use it.
//
// Threads: the main thread calls everything. Reader threads call open() with
// HidAccess::Read, readInputReport() and close() on the handle they opened,
// concurrently with the main thread's calls; implementations keep those three
// safe for that. The devicesChanged signal is emitted on the main thread.
class HidPlatform : public QObject {
    Q_OBJECT
public:
    using Handle = std::intptr_t;
    static constexpr Handle InvalidHandle = -1;
    // Reported for a read refused because the device is gone or no longer lent out.
    static constexpr std::uint32_t NotAccessibleError = ENODEV;

    using QObject::QObject;
    ~HidPlatform() override = default;

    // False when the system offers no HID facilities: nothing is listed then
    // and no change is ever signalled.
    [[nodiscard]] virtual bool available() const = 0;
    // Every HID interface present now, each once.
    [[nodiscard]] virtual std::vector<HidInterface> presentInterfaces() = 0;

    [[nodiscard]] virtual HidOpenResult open(const HidInterface& device, HidAccess access) = 0;
    virtual void close(Handle handle) = 0;

    [[nodiscard]] virtual std::optional<HidAttributes> attributes(Handle handle) = 0;
    [[nodiscard]] virtual bool productString(Handle handle, HidString& buffer) = 0;
    [[nodiscard]] virtual bool serialNumberString(Handle handle, HidString& buffer) = 0;
    // Index 0 is the device's table of languages.
    [[nodiscard]] virtual bool indexedString(Handle handle, std::uint8_t index,
                                             HidString& buffer) = 0;
    // Length of the longest input report with its report-ID byte (0 when the
    // device uses no report IDs); 0 for a device without input reports.
    [[nodiscard]] virtual std::optional<std::uint16_t> inputReportByteLength(Handle handle) = 0;
    // buffer[0] is the report ID (0 for a device without report IDs); size counts it.
    [[nodiscard]] virtual bool sendFeatureReport(Handle handle, const std::uint8_t* buffer,
                                                 std::size_t size) = 0;
    // Waits at most waitMs for one input report and places it in buffer with
    // its report-ID byte first (0 for a device without report IDs). A report
    // longer than capacity is cut to it.
    [[nodiscard]] virtual HidReadResult readInputReport(Handle handle, std::uint8_t* buffer,
                                                        std::size_t capacity,
                                                        std::int32_t waitMs) = 0;

signals:
    // The set of HID devices may have changed. Carries no detail: listeners rescan.
    void devicesChanged();
};

} // namespace qm45
