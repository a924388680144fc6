#pragma once

#include "link/HidPlatform.h"

#include <QByteArray>

#include <map>
#include <mutex>
#include <optional>

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace qm45 {

// HID on Linux. hidraw interfaces are listed and watched through libudev
// (identity: the interface's sysfs path, new at every plug); transfers go
// through the hidraw node; identification and strings come from sysfs (the
// USB device above the interface, or the HID device for other buses), so
// they can be read also where the node itself may not be opened. A handle
// opened with HidAccess::NoData holds no descriptor at all.
//
// Threads: the udev context, the monitor and the lookups that use them
// (presentInterfaces, attributes, strings) belong to the main thread, as
// libudev objects are not thread-safe. open, close and readInputReport use
// only system calls and the handle table, so reader threads may call them.
class LinuxHidPlatform final : public HidPlatform {
    Q_OBJECT
public:
    explicit LinuxHidPlatform(QObject* parent = nullptr);
    ~LinuxHidPlatform() override;

    LinuxHidPlatform(const LinuxHidPlatform&) = delete;
    LinuxHidPlatform& operator=(const LinuxHidPlatform&) = delete;

    [[nodiscard]] bool available() const override { return udev_ != nullptr; }
    [[nodiscard]] std::vector<HidInterface> presentInterfaces() override;
    [[nodiscard]] HidOpenResult open(const HidInterface& device, HidAccess access) override;
    void close(Handle handle) override;
    [[nodiscard]] std::optional<HidAttributes> attributes(Handle handle) override;
    [[nodiscard]] bool productString(Handle handle, HidString& buffer) override;
    [[nodiscard]] bool serialNumberString(Handle handle, HidString& buffer) override;
    [[nodiscard]] bool indexedString(Handle handle, std::uint8_t index, HidString& buffer) override;
    [[nodiscard]] std::optional<std::uint16_t> inputReportByteLength(Handle handle) override;
    [[nodiscard]] bool sendFeatureReport(Handle handle, const std::uint8_t* buffer,
                                         std::size_t size) override;
    [[nodiscard]] HidReadResult readInputReport(Handle handle, std::uint8_t* buffer,
                                                std::size_t capacity, std::int32_t waitMs) override;

private:
    struct OpenDevice {
        int fd = -1;        // -1 for HidAccess::NoData
        QByteArray syspath; // the hidraw interface in sysfs
        bool numberedReports = false;
    };

    [[nodiscard]] std::optional<OpenDevice> lookup(Handle handle) const;
    [[nodiscard]] bool sysfsString(Handle handle, const char* usbAttribute, const char* hidProperty,
                                   HidString& buffer);
    void drainMonitor();

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;

    mutable std::mutex mutex_;
    std::map<Handle, OpenDevice> open_; // guarded by mutex_
    Handle nextHandle_ = 1;             // guarded by mutex_
};

} // namespace qm45
