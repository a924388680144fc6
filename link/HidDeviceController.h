#pragma once

#include "link/HidHandler.h"
#include "link/HidPlatform.h"

#include <QObject>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace qm45 {

class THidDevice;

// Keeps the list of HID devices present in the system, reports what came and
// went, and lends devices out (check out) and takes them back (check in).
// Exactly one per program. Main thread only: its operations, every event it
// raises and the platform's change signal all run there, so nothing is locked;
// reader threads never touch the controller or its list.
//
// Ownership: the list owns every device that is not checked out. A checked-out
// device belongs to its holder until the holder hands it to ReleaseDevice; it
// stays in the list meanwhile, also after it has disappeared (Attached false).
class THidDeviceController : public QObject {
    Q_OBJECT
public:
    // A null platform selects the system's (LinuxHidPlatform). The list is
    // filled at once; no handler is set yet, so nothing is reported. Throws
    // EControllerError "Only one THidDeviceController allowed per program".
    explicit THidDeviceController(std::shared_ptr<HidPlatform> platform = nullptr,
                                  QObject* owner = nullptr);
    // Devices still checked out are unplugged and left to their holders; their
    // readers go on until the holder releases them or the program ends.
    ~THidDeviceController() override;

    THidDeviceController(const THidDeviceController&) = delete;
    THidDeviceController& operator=(const THidDeviceController&) = delete;

    // Rescans and reports: every removal (unplug handler, OnRemoval) from the
    // highest index down, then every arrival (OnArrival) in scan order, then
    // OnDeviceChange once if anything changed or nothing has been reported yet.
    void DeviceChange();
    // A reader found its device gone (its reads keep failing as after an
    // unplug) though no change was signalled: rescans like DeviceChange and
    // reports OnDeviceChange whether or not the scan saw a difference, so that
    // holders rebuild their lists and stop reading, as after an unplug.
    void DeviceLost();
    // Calls OnEnumerate for each attached device in list order with its list
    // index, until the handler returns false. Returns the number of calls.
    std::int32_t EnumerateDevices();
    // The device at a list index, now checked out, or none when the index is
    // out of range or the device is already checked out.
    [[nodiscard]] THidDevice* CheckOutDeviceAt(std::int32_t index);
    // Check in. The holder must not use the object afterwards: a still attached
    // device is replaced at its index by a fresh object, a detached one leaves
    // the list. Works also after the controller is gone.
    static void ReleaseDevice(THidDevice* device);

    [[nodiscard]] std::int32_t DeviceCount() const { return std::int32_t(list_.size()); }
    [[nodiscard]] THidDevice* DeviceAt(std::int32_t index) const;

    [[nodiscard]] const THidPlugEvent& OnArrival() const { return OnArrival_; }
    void setOnArrival(THidPlugEvent handler) { OnArrival_ = std::move(handler); }
    [[nodiscard]] const THidPlugEvent& OnRemoval() const { return OnRemoval_; }
    void setOnRemoval(THidPlugEvent handler) { OnRemoval_ = std::move(handler); }
    [[nodiscard]] const THidEnumerateEvent& OnEnumerate() const { return OnEnumerate_; }
    void setOnEnumerate(THidEnumerateEvent handler) { OnEnumerate_ = std::move(handler); }
    // A new handler runs DeviceChange at once; the first one is therefore
    // called even when nothing changed.
    [[nodiscard]] const THidNotifyEvent& OnDeviceChange() const { return OnDeviceChange_; }
    void setOnDeviceChange(THidNotifyEvent handler);
    // The defaults new devices start with. A new default also replaces the
    // handler of every listed device that still has the old default.
    [[nodiscard]] const THidDataEvent& OnDeviceData() const { return OnDeviceData_; }
    void setOnDeviceData(THidDataEvent handler);
    [[nodiscard]] const THidDataErrorEvent& OnDeviceDataError() const { return OnDeviceDataError_; }
    void setOnDeviceDataError(THidDataErrorEvent handler);
    [[nodiscard]] const THidPlugEvent& OnDeviceUnplug() const { return OnDeviceUnplug_; }
    void setOnDeviceUnplug(THidPlugEvent handler);
    // Told about an exception that escaped a device's data or error handler
    // during a hand-over from its reader. It is caught on the main thread,
    // the reader is released (and reads on), then this runs; without a
    // handler the exception is dropped.
    using HandlerFailureEvent = std::function<void(THidDevice* HidDev, std::exception_ptr error)>;
    [[nodiscard]] const HandlerFailureEvent& OnHandlerFailure() const { return OnHandlerFailure_; }
    void setOnHandlerFailure(HandlerFailureEvent handler) {
        OnHandlerFailure_ = std::move(handler);
    }
    // Passed on to every device whose ReadWaitTime still equals the old value
    // (a device accepts 10..10000 only); stored as given.
    [[nodiscard]] std::int32_t DevThreadSleepTime() const { return DevThreadSleepTime_; }
    void setDevThreadSleepTime(std::int32_t milliseconds);

private:
    [[nodiscard]] std::vector<std::unique_ptr<THidDevice>> ScanDevices();
    void runDeviceChange();

    std::shared_ptr<HidPlatform> Platform_;
    std::vector<std::unique_ptr<THidDevice>> list_;

    THidPlugEvent OnArrival_;
    THidPlugEvent OnRemoval_;
    THidEnumerateEvent OnEnumerate_;
    THidNotifyEvent OnDeviceChange_;
    THidDataEvent OnDeviceData_;
    THidDataErrorEvent OnDeviceDataError_;
    THidPlugEvent OnDeviceUnplug_;
    HandlerFailureEvent OnHandlerFailure_;
    std::int32_t DevThreadSleepTime_ = 100;
    bool FirstReportDone_ = false;
    bool ForceReport_ = false; // DeviceLost: report even an unchanged scan

    // A change signal that arrives while a handler of DeviceChange runs a
    // nested event loop is not served in the middle of the list walk; the
    // running DeviceChange scans once more when it is done.
    bool InDeviceChange_ = false;
    bool ChangeAgain_ = false;
};

} // namespace qm45
