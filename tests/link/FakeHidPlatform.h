#pragma once

#include "link/HidPlatform.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qm45::test {

// Runs the event loop until the condition holds; false on timeout. Readers
// hand each report to the main thread through the event loop: QTRY_* wait
// with QTest::qWait, which sleeps between passes and so serves about one
// report per 10 ms; a running loop serves them as fast as they come.
inline bool runEventLoopUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    check.start(1);
    if (!condition())
        loop.exec();
    return condition();
}

// Scripted HID devices. The test plugs and unplugs them, queues input reports
// and read errors, and reads back the feature reports sent. Reader threads
// read while the test thread scripts, so every member is guarded by one mutex.
class FakeHidPlatform final : public HidPlatform {
public:
    struct Description {
        std::optional<std::u16string> product = u"Fake device"; // none: the lookup fails
        std::optional<std::u16string> serial;                   // none: the lookup fails
        // Written as given, a terminating zero included or not; none: fails.
        std::optional<std::u16string> languages = std::u16string(u"\u0409");
        std::optional<HidAttributes> attributes = HidAttributes{0x1A86, 0xE008, 0x0100};
        std::optional<std::uint16_t> inputReportByteLength = 9;
        bool readWrite = true;       // false: only HidAccess::NoData opens
        bool opens = true;           // false: nothing opens
        bool featureAccepted = true; // what a feature report on a read/write handle returns
    };

    // The USB interface cable as the meter program looks for it.
    static Description cable() {
        Description description;
        description.product = u"USB to Serial";
        return description;
    }
    // An input report of the cable, 9 bytes: report ID 0, a status byte whose
    // low nibble counts the meter bytes after it (high nibble set, as the
    // cable sends it), the meter bytes, zeros.
    static QByteArray cableReport(const QByteArray& meterBytes) {
        QByteArray r(2, 0);
        r[1] = char(0xF0 | meterBytes.size());
        r += meterBytes;
        r.append(9 - r.size(), 0);
        return r;
    }

    bool isAvailable = true;

    // Plugs a new device; returns its number for the other calls.
    int add(const Description& description, bool notify = true) {
        int id = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            id = nextId_++;
            Device& device = devices_[id];
            device.description = description;
            plugLocked(id, device);
        }
        if (notify)
            emit devicesChanged();
        return id;
    }
    void unplug(int id, bool notify = true) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            devices_.at(id).plugged = false;
            order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
        }
        changed_.notify_all();
        if (notify)
            emit devicesChanged();
    }
    // Back in with a new identity, as a re-plug gives.
    void replug(int id, bool notify = true) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            plugLocked(id, devices_.at(id));
        }
        if (notify)
            emit devicesChanged();
    }
    void notifyChange() { emit devicesChanged(); }

    void setDescription(int id, const Description& description) {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_.at(id).description = description;
    }
    void pushReport(int id, const QByteArray& report) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            devices_.at(id).queue.push_back({report, 0});
        }
        changed_.notify_all();
    }
    void pushReadError(int id, std::uint32_t error) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            devices_.at(id).queue.push_back({{}, error});
        }
        changed_.notify_all();
    }
    // Every read completes at once with this report, as a busy device's do.
    void stream(int id, const QByteArray& report) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            devices_.at(id).stream = report;
        }
        changed_.notify_all();
    }

    // Every read from now on is refused with this error, as from a device
    // that has gone while still listed; 0 ends it.
    void failReads(int id, std::uint32_t error) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            devices_.at(id).failure = error;
        }
        changed_.notify_all();
    }
    // Read requests that reached the device, whatever their outcome.
    [[nodiscard]] int readAttempts(int id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return devices_.at(id).readAttempts;
    }

    [[nodiscard]] QList<QByteArray> featureReports(int id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return devices_.at(id).features;
    }
    [[nodiscard]] int queuedReports(int id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return int(devices_.at(id).queue.size());
    }
    [[nodiscard]] int completedReads(int id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return devices_.at(id).completedReads;
    }
    [[nodiscard]] int openHandles(std::optional<HidAccess> access = std::nullopt) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return int(std::count_if(handles_.begin(), handles_.end(), [&](const auto& entry) {
            return !access || entry.second.access == *access;
        }));
    }
    [[nodiscard]] QString identity(int id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return identityLocked(id, devices_.at(id));
    }

    // HidPlatform
    [[nodiscard]] bool available() const override { return isAvailable; }
    [[nodiscard]] std::vector<HidInterface> presentInterfaces() override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<HidInterface> found;
        for (int id : order_)
            found.push_back({QStringLiteral("/dev/fake-hidraw%1").arg(id),
                             identityLocked(id, devices_.at(id))});
        return found;
    }
    [[nodiscard]] HidOpenResult open(const HidInterface& device, HidAccess access) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const int id = idOf(device);
        if (id < 0)
            return {InvalidHandle, ENODEV};
        const Description& description = devices_.at(id).description;
        if (!description.opens || (access != HidAccess::NoData && !description.readWrite))
            return {InvalidHandle, EACCES};
        const Handle handle = nextHandle_++;
        handles_[handle] = {id, devices_.at(id).generation, access};
        return {handle, 0};
    }
    void close(Handle handle) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handles_.erase(handle);
        }
        changed_.notify_all();
    }
    [[nodiscard]] std::optional<HidAttributes> attributes(Handle handle) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const Device* device = liveDevice(handle);
        return device ? device->description.attributes : std::nullopt;
    }
    [[nodiscard]] bool productString(Handle handle, HidString& buffer) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const Device* device = liveDevice(handle);
        return device && put(device->description.product, buffer);
    }
    [[nodiscard]] bool serialNumberString(Handle handle, HidString& buffer) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const Device* device = liveDevice(handle);
        return device && put(device->description.serial, buffer);
    }
    [[nodiscard]] bool indexedString(Handle handle, std::uint8_t index,
                                     HidString& buffer) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const Device* device = liveDevice(handle);
        return device && index == 0 && put(device->description.languages, buffer);
    }
    [[nodiscard]] std::optional<std::uint16_t> inputReportByteLength(Handle handle) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const Device* device = liveDevice(handle);
        return device ? device->description.inputReportByteLength : std::nullopt;
    }
    [[nodiscard]] bool sendFeatureReport(Handle handle, const std::uint8_t* buffer,
                                         std::size_t size) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Device* device = liveDevice(handle);
        if (!device || handles_.at(handle).access != HidAccess::ReadWrite)
            return false;
        device->features << QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
        return device->description.featureAccepted;
    }
    [[nodiscard]] HidReadResult readInputReport(Handle handle, std::uint8_t* buffer,
                                                std::size_t capacity,
                                                std::int32_t waitMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        HidReadResult result;
        if (Device* device = liveDevice(handle))
            ++device->readAttempts;
        const auto ready = [&] {
            Device* device = liveDevice(handle);
            return !device || !device->queue.empty() || device->stream || device->failure != 0;
        };
        changed_.wait_for(lock, std::chrono::milliseconds(waitMs), ready);
        Device* device = liveDevice(handle);
        if (!device) {
            result.status = HidReadResult::Status::Refused;
            result.error = ENODEV;
            return result;
        }
        if (device->failure != 0) {
            result.status = HidReadResult::Status::Refused;
            result.error = device->failure;
            return result;
        }
        QByteArray report;
        if (!device->queue.empty()) {
            const Queued next = device->queue.front();
            device->queue.pop_front();
            if (next.error != 0) {
                result.status = HidReadResult::Status::Refused;
                result.error = next.error;
                return result;
            }
            report = next.report;
        } else if (device->stream) {
            report = *device->stream;
        } else {
            return result; // pending
        }
        const std::size_t fits = std::min<std::size_t>(std::size_t(report.size()), capacity);
        std::copy_n(report.constData(), fits, reinterpret_cast<char*>(buffer));
        ++device->completedReads;
        result.status = HidReadResult::Status::Completed;
        result.bytes = std::int32_t(fits);
        return result;
    }

private:
    struct Queued {
        QByteArray report;
        std::uint32_t error = 0; // not 0: this read is refused with it
    };
    struct Device {
        Description description;
        bool plugged = false;
        int generation = 0;
        std::deque<Queued> queue;
        std::optional<QByteArray> stream;
        QList<QByteArray> features;
        int completedReads = 0;
        int readAttempts = 0;
        std::uint32_t failure = 0; // not 0: every read is refused with it
    };
    struct OpenHandle {
        int id = 0;
        int generation = 0;
        HidAccess access = HidAccess::NoData;
    };

    void plugLocked(int id, Device& device) {
        device.plugged = true;
        ++device.generation;
        device.queue.clear();
        order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
        order_.push_back(id);
    }
    static QString identityLocked(int id, const Device& device) {
        return QStringLiteral("fake:%1:%2").arg(id).arg(device.generation);
    }
    int idOf(const HidInterface& interface) const {
        for (const auto& [id, device] : devices_) {
            if (device.plugged && identityLocked(id, device) == interface.identity)
                return id;
        }
        return -1;
    }
    Device* liveDevice(Handle handle) {
        const auto at = handles_.find(handle);
        if (at == handles_.end())
            return nullptr;
        Device& device = devices_.at(at->second.id);
        return device.plugged && device.generation == at->second.generation ? &device : nullptr;
    }
    static bool put(const std::optional<std::u16string>& text, HidString& buffer) {
        if (!text)
            return false;
        const std::size_t units = std::min(text->size(), buffer.size());
        std::copy_n(text->begin(), units, buffer.begin());
        return true;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, Device> devices_;
    std::vector<int> order_; // plugged devices in scan order
    std::map<Handle, OpenHandle> handles_;
    int nextId_ = 1;
    Handle nextHandle_ = 1;
};

} // namespace qm45::test
