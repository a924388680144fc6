#pragma once

#include "link/HidDeviceReadThread.h"
#include "link/HidHandler.h"
#include "link/HidPlatform.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace qm45 {

class THidDeviceController;

// One HID interface present in the system, made and listed by the
// controller. Main thread only; its reader thread sees nothing of it but the
// reader's Source.
//
// Accessibility: the device is opened only while it is Attached and either
// CheckedOut or InEvent. Queries on a device that is not accessible answer
// from what is cached without touching it, and transfers fail, unless the
// query handle is still open from an earlier feature report.
class THidDevice {
public:
    ~THidDevice();

    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    [[nodiscard]] bool Attached() const { return Attached_; }
    [[nodiscard]] bool CheckedOut() const { return CheckedOut_; }
    [[nodiscard]] bool InEvent() const { return InEvent_; }
    // The last open of the query handle got read and write access.
    [[nodiscard]] bool ReadWriteAccess() const { return ReadWriteAccess_; }
    [[nodiscard]] std::uint16_t VendorID() const { return Attributes_.VendorID; }
    [[nodiscard]] std::uint16_t ProductID() const { return Attributes_.ProductID; }
    [[nodiscard]] std::uint16_t VersionNumber() const { return Attributes_.VersionNumber; }
    [[nodiscard]] const HidInterface& PnPInfo() const { return PnPInfo_; }

    // Read from the device once and kept; empty until a read succeeds.
    [[nodiscard]] QString ProductString();
    // Kept only when the string at index 0 could be read and the serial number
    // does not repeat it.
    [[nodiscard]] QString SerialNumberString();
    [[nodiscard]] std::uint16_t InputReportByteLength();

    // The reader's wait slice in milliseconds. Values outside 10..10000 are ignored.
    [[nodiscard]] std::int32_t ReadWaitTime() const { return ReadWaitTime_; }
    void setReadWaitTime(std::int32_t milliseconds);

    [[nodiscard]] const THidDataEvent& DataHandler() const { return DataHandler_; }
    // An empty handler stops the reader first (see THidDeviceReadThread::stop).
    // A reader starts once the device has a handler, is Attached, CheckedOut
    // and has ReadWriteAccess. Replacing one handler by another keeps the
    // reader; its next report goes to the new handler.
    void SetDataHandler(THidDataEvent handler);
    [[nodiscard]] const THidDataErrorEvent& DataErrorHandler() const { return DataErrorHandler_; }
    void setDataErrorHandler(THidDataErrorEvent handler) { DataErrorHandler_ = std::move(handler); }
    [[nodiscard]] const THidPlugEvent& UnplugHandler() const { return UnplugHandler_; }
    void setUnplugHandler(THidPlugEvent handler) { UnplugHandler_ = std::move(handler); }

    // buffer[0] is the report ID; size counts it. Leaves the query handle open.
    [[nodiscard]] bool SendFeatureReport(const std::uint8_t* buffer, std::size_t size);

    [[nodiscard]] bool isReading() const { return Reader_ != nullptr; }

    // The controller that made the device; none once it is gone.
    [[nodiscard]] THidDeviceController* Controller() const { return Controller_; }

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;

    // Throws EControllerError "device cannot be opened" / "device cannot be identified".
    THidDevice(HidInterface info, THidDeviceController* controller,
               std::shared_ptr<HidPlatform> platform);

    [[nodiscard]] bool accessible() const;
    void updateAccess();
    void setCheckedOut(bool checkedOut);
    void setInEvent(bool inEvent);
    // Opens with read and write access, else with no data access; records which.
    [[nodiscard]] bool openQueryHandle();
    void closeQueryHandle();
    void startReaderIfReady();
    void stopReader();
    // From the reader's last hand-over: its reads kept failing as on a device
    // that has gone. Reading ends and the controller is asked to rescan.
    void readerLost();
    // The device has disappeared: handles closed, Attached false, UnplugHandler
    // told once and cleared. A running reader is not stopped.
    void Unplug();
    // Alive while the object is; the controller holds a weak copy across the
    // handlers it calls, which may release the device.
    [[nodiscard]] std::weak_ptr<void> lifetime() const { return Lifetime_; }

    const std::shared_ptr<HidPlatform> Platform_;
    HidInterface PnPInfo_;
    THidDeviceController* Controller_ = nullptr;
    std::shared_ptr<THidDeviceReadThread::Source> Source_;
    std::shared_ptr<void> Lifetime_;

    bool Attached_ = true;
    bool CheckedOut_ = false;
    bool InEvent_ = false;
    bool ReadWriteAccess_ = false;
    HidAttributes Attributes_;
    QString ProductString_;
    QString SerialNumberString_;
    std::optional<std::uint16_t> InputReportByteLength_;
    std::int32_t ReadWaitTime_ = 100;

    THidDataEvent DataHandler_;
    THidDataErrorEvent DataErrorHandler_;
    THidPlugEvent UnplugHandler_;

    HidPlatform::Handle QueryHandle_ = HidPlatform::InvalidHandle;
    std::unique_ptr<THidDeviceReadThread> Reader_;
};

} // namespace qm45
