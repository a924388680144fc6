#include "link/LinuxHidPlatform.h"

#include "link/HidReportDescriptor.h"

#include <QSocketNotifier>
#include <QString>

#include <algorithm>
#include <array>
#include <vector>

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qm45 {

namespace {

// Whole small sysfs file, or empty when it cannot be read.
QByteArray readFile(const QByteArray& path) {
    QByteArray contents;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return contents;
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got <= 0)
            break;
        contents.append(chunk.data(), qsizetype(got));
    }
    ::close(fd);
    return contents;
}

// A hidraw node number can be handed to the next device plugged in; the
// node opens only while it still belongs to the interface that was listed.
bool nodeBelongsTo(const QByteArray& node, const QByteArray& syspath) {
    const QList<QByteArray> numbers = readFile(syspath + "/dev").trimmed().split(':');
    if (numbers.size() != 2)
        return false;
    bool majorOk = false;
    bool minorOk = false;
    const unsigned int major = numbers[0].toUInt(&majorOk);
    const unsigned int minor = numbers[1].toUInt(&minorOk);
    struct stat info {};
    if (!majorOk || !minorOk || ::stat(node.constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    return ::major(info.st_rdev) == major && ::minor(info.st_rdev) == minor;
}

HidReportDescriptor descriptorOf(const QByteArray& syspath) {
    const QByteArray bytes = readFile(syspath + "/device/report_descriptor");
    return HidReportDescriptor::parse(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      std::size_t(bytes.size()));
}

void putText(const QString& text, HidString& buffer) {
    const std::size_t units = std::min<std::size_t>(std::size_t(text.size()), buffer.size());
    std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), units, buffer.begin());
    if (units < buffer.size())
        buffer[units] = 0;
}

// A udev device with the parents it owns, released on scope exit.
class UdevDevice {
public:
    UdevDevice(udev* context, const QByteArray& syspath)
        : device_(context ? udev_device_new_from_syspath(context, syspath.constData()) : nullptr) {}
    ~UdevDevice() {
        if (device_)
            udev_device_unref(device_);
    }
    UdevDevice(const UdevDevice&) = delete;
    UdevDevice& operator=(const UdevDevice&) = delete;

    [[nodiscard]] udev_device* usbDevice() const {
        return device_ ? udev_device_get_parent_with_subsystem_devtype(device_, "usb", "usb_device")
                       : nullptr;
    }
    [[nodiscard]] udev_device* hidDevice() const {
        return device_ ? udev_device_get_parent_with_subsystem_devtype(device_, "hid", nullptr)
                       : nullptr;
    }

private:
    udev_device* device_;
};

constexpr std::uint8_t kUsbDirIn = 0x80;
constexpr std::uint8_t kUsbGetDescriptor = 6;
constexpr std::uint16_t kUsbStringDescriptor = 3;
// A healthy device answers a descriptor request in a few milliseconds; this
// runs on the main thread, so a dead one must not hold it long.
constexpr unsigned int kControlTimeoutMs = 500;
// The size field of the hidraw feature request holds 14 bits.
constexpr std::size_t kMaxFeatureReport = (1u << 14) - 1;

// String descriptor through usbfs: works only where the USB device node may
// be opened for writing, as the kernel requires for control requests.
bool readStringDescriptor(int fd, std::uint8_t index, std::uint16_t language,
                          std::array<std::uint8_t, 255>& descriptor, int& length) {
    usbdevfs_ctrltransfer request{};
    request.bRequestType = kUsbDirIn;
    request.bRequest = kUsbGetDescriptor;
    request.wValue = std::uint16_t((kUsbStringDescriptor << 8) | index);
    request.wIndex = language;
    request.wLength = std::uint16_t(descriptor.size());
    request.timeout = kControlTimeoutMs;
    request.data = descriptor.data();
    const int got = ::ioctl(fd, USBDEVFS_CONTROL, &request);
    if (got < 2 || descriptor[1] != kUsbStringDescriptor)
        return false;
    length = std::min<int>(got, descriptor[0]);
    return length >= 2;
}

} // namespace

LinuxHidPlatform::LinuxHidPlatform(QObject* parent) : HidPlatform(parent), udev_(udev_new()) {
    if (!udev_)
        return;
    // The "udev" source reports a device after its rules have run, so the
    // node already carries the permissions it is going to have.
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ &&
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) >= 0 &&
        udev_monitor_enable_receiving(monitor_) >= 0) {
        notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &LinuxHidPlatform::drainMonitor);
    } else if (monitor_) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
}

LinuxHidPlatform::~LinuxHidPlatform() {
    delete notifier_;
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
    for (const auto& [handle, device] : open_) {
        if (device.fd >= 0)
            ::close(device.fd);
    }
}

void LinuxHidPlatform::drainMonitor() {
    // One plug brings several events (one per interface); one signal is enough.
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        udev_device_unref(device);
        any = true;
    }
    if (any)
        emit devicesChanged();
}

std::vector<HidInterface> LinuxHidPlatform::presentInterfaces() {
    std::vector<HidInterface> found;
    if (!udev_)
        return found;
    udev_enumerate* scan = udev_enumerate_new(udev_);
    if (!scan)
        return found;
    if (udev_enumerate_add_match_subsystem(scan, "hidraw") >= 0 &&
        udev_enumerate_scan_devices(scan) >= 0) {
        udev_list_entry* entry = udev_enumerate_get_list_entry(scan);
        for (; entry; entry = udev_list_entry_get_next(entry)) {
            const char* syspath = udev_list_entry_get_name(entry);
            udev_device* device = udev_device_new_from_syspath(udev_, syspath);
            if (!device)
                continue;
            if (const char* node = udev_device_get_devnode(device))
                found.push_back({QString::fromLocal8Bit(node), QString::fromLocal8Bit(syspath)});
            udev_device_unref(device);
        }
    }
    udev_enumerate_unref(scan);
    return found;
}

HidOpenResult LinuxHidPlatform::open(const HidInterface& device, HidAccess access) {
    OpenDevice opened;
    opened.syspath = device.identity.toLocal8Bit();
    const QByteArray node = device.path.toLocal8Bit();
    if (!nodeBelongsTo(node, opened.syspath))
        return {InvalidHandle, ENODEV};
    if (access != HidAccess::NoData) {
        const int mode = access == HidAccess::ReadWrite ? O_RDWR : O_RDONLY;
        opened.fd = ::open(node.constData(), mode | O_CLOEXEC | O_NONBLOCK);
        if (opened.fd < 0)
            return {InvalidHandle, std::uint32_t(errno)};
    }
    if (access == HidAccess::Read)
        opened.numberedReports = descriptorOf(opened.syspath).numberedReports;
    std::lock_guard<std::mutex> lock(mutex_);
    const Handle handle = nextHandle_++;
    open_.emplace(handle, opened);
    return {handle, 0};
}

void LinuxHidPlatform::close(Handle handle) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto at = open_.find(handle);
        if (at == open_.end())
            return;
        fd = at->second.fd;
        open_.erase(at);
    }
    if (fd >= 0)
        ::close(fd);
}

std::optional<LinuxHidPlatform::OpenDevice> LinuxHidPlatform::lookup(Handle handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto at = open_.find(handle);
    if (at == open_.end())
        return std::nullopt;
    return at->second;
}

std::optional<HidAttributes> LinuxHidPlatform::attributes(Handle handle) {
    const std::optional<OpenDevice> opened = lookup(handle);
    if (!opened)
        return std::nullopt;
    const UdevDevice device(udev_, opened->syspath);
    udev_device* hid = device.hidDevice();
    // HID_ID is "bus:vendor:product" in hexadecimal, e.g. "0003:00001A86:0000E008".
    const char* id = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    if (!id)
        return std::nullopt;
    const QList<QByteArray> parts = QByteArray(id).split(':');
    if (parts.size() != 3)
        return std::nullopt;
    bool vendorOk = false;
    bool productOk = false;
    HidAttributes attributes;
    attributes.VendorID = std::uint16_t(parts[1].toUInt(&vendorOk, 16));
    attributes.ProductID = std::uint16_t(parts[2].toUInt(&productOk, 16));
    if (!vendorOk || !productOk)
        return std::nullopt;
    if (udev_device* usb = device.usbDevice()) {
        if (const char* version = udev_device_get_sysattr_value(usb, "bcdDevice"))
            attributes.VersionNumber =
                std::uint16_t(QByteArray(version).trimmed().toUInt(nullptr, 16));
    }
    return attributes;
}

bool LinuxHidPlatform::sysfsString(Handle handle, const char* usbAttribute, const char* hidProperty,
                                   HidString& buffer) {
    const std::optional<OpenDevice> opened = lookup(handle);
    if (!opened)
        return false;
    const UdevDevice device(udev_, opened->syspath);
    const char* value = nullptr;
    if (udev_device* usb = device.usbDevice()) {
        // Absent when the device has no such string.
        value = udev_device_get_sysattr_value(usb, usbAttribute);
    } else if (udev_device* hid = device.hidDevice()) {
        value = udev_device_get_property_value(hid, hidProperty);
        if (value && !*value)
            value = nullptr;
    }
    if (!value)
        return false;
    putText(QString::fromUtf8(QByteArray(value).trimmed()), buffer);
    return true;
}

bool LinuxHidPlatform::productString(Handle handle, HidString& buffer) {
    return sysfsString(handle, "product", "HID_NAME", buffer);
}

bool LinuxHidPlatform::serialNumberString(Handle handle, HidString& buffer) {
    return sysfsString(handle, "serial", "HID_UNIQ", buffer);
}

bool LinuxHidPlatform::indexedString(Handle handle, std::uint8_t index, HidString& buffer) {
    const std::optional<OpenDevice> opened = lookup(handle);
    if (!opened)
        return false;
    const UdevDevice device(udev_, opened->syspath);
    udev_device* usb = device.usbDevice();
    const char* node = usb ? udev_device_get_devnode(usb) : nullptr;
    if (!node)
        return false;
    const int fd = ::open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::array<std::uint8_t, 255> descriptor{};
    int length = 0;
    bool ok = readStringDescriptor(fd, 0, 0, descriptor, length);
    if (ok && index != 0) {
        // Other strings are asked for in the device's first language.
        const std::uint16_t language = std::uint16_t(descriptor[2] | (descriptor[3] << 8));
        ok = length >= 4 && readStringDescriptor(fd, index, language, descriptor, length);
    }
    ::close(fd);
    if (!ok)
        return false;
    const std::size_t units = std::min<std::size_t>(std::size_t(length - 2) / 2, buffer.size());
    for (std::size_t i = 0; i < units; ++i)
        buffer[i] = char16_t(descriptor[2 + 2 * i] | (descriptor[3 + 2 * i] << 8));
    if (units < buffer.size())
        buffer[units] = 0;
    return true;
}

std::optional<std::uint16_t> LinuxHidPlatform::inputReportByteLength(Handle handle) {
    const std::optional<OpenDevice> opened = lookup(handle);
    if (!opened)
        return std::nullopt;
    return descriptorOf(opened->syspath).inputReportByteLength;
}

bool LinuxHidPlatform::sendFeatureReport(Handle handle, const std::uint8_t* buffer,
                                         std::size_t size) {
    const std::optional<OpenDevice> opened = lookup(handle);
    if (!opened || opened->fd < 0 || size == 0 || size > kMaxFeatureReport)
        return false;
    std::vector<std::uint8_t> report(buffer, buffer + size);
    return ::ioctl(opened->fd, HIDIOCSFEATURE(size), report.data()) >= 0;
}

HidReadResult LinuxHidPlatform::readInputReport(Handle handle, std::uint8_t* buffer,
                                                std::size_t capacity, std::int32_t waitMs) {
    HidReadResult result;
    const std::optional<OpenDevice> opened = lookup(handle);
    if (!opened || opened->fd < 0) {
        result.status = HidReadResult::Status::Refused;
        result.error = EBADF;
        return result;
    }
    pollfd watch{opened->fd, POLLIN, 0};
    const int ready = ::poll(&watch, 1, std::max<std::int32_t>(waitMs, 0));
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return result; // pending: nothing was taken from the device
    if (ready < 0) {
        result.status = HidReadResult::Status::Refused;
        result.error = std::uint32_t(errno);
        return result;
    }

    // Readable, or gone (POLLHUP): the read tells which. Reports still queued
    // after an unplug are read first; then the read fails with EIO.
    // Without report IDs hidraw delivers the report alone; the ID byte 0 is
    // put in front, so both kinds look alike to the reader.
    const bool prefix = !opened->numberedReports && capacity > 0;
    std::uint8_t* target = prefix ? buffer + 1 : buffer;
    std::size_t room = prefix ? capacity - 1 : capacity;
    std::uint8_t discard = 0;
    // A read of 0 bytes would still take the report but then wait for the
    // next; one byte of scratch takes just the one (hidraw cuts it to fit).
    const bool scratch = room == 0;
    if (scratch) {
        target = &discard;
        room = 1;
    }
    ssize_t got = ::read(opened->fd, target, room);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return result;
        result.status = HidReadResult::Status::Refused;
        result.error = std::uint32_t(errno);
        return result;
    }
    if (scratch)
        got = 0;
    if (prefix) {
        buffer[0] = 0;
        ++got;
    }
    result.status = HidReadResult::Status::Completed;
    result.bytes = std::int32_t(got);
    return result;
}

} // namespace qm45
