#include "link/HidDeviceController.h"

#include "link/HidControllerError.h"
#include "link/HidDevice.h"
#include "link/LinuxHidPlatform.h"

#include <algorithm>
#include <utility>

namespace qm45 {

namespace {

int liveControllers = 0; // main thread only

} // namespace

THidDeviceController::THidDeviceController(std::shared_ptr<HidPlatform> platform, QObject* owner)
    : QObject(owner), Platform_(std::move(platform)) {
    if (!Platform_)
        Platform_ = std::make_shared<LinuxHidPlatform>();
    if (++liveControllers > 1) {
        --liveControllers;
        throw EControllerError("Only one THidDeviceController allowed per program");
    }
    try {
        list_ = ScanDevices();
    } catch (...) {
        --liveControllers;
        throw;
    }
    if (Platform_->available())
        connect(Platform_.get(), &HidPlatform::devicesChanged, this,
                &THidDeviceController::DeviceChange);
}

THidDeviceController::~THidDeviceController() {
    disconnect(Platform_.get(), nullptr, this, nullptr);
    OnDeviceChange_ = {};
    OnDeviceUnplug_ = {};
    OnEnumerate_ = {};
    // Unplug handlers run last, on a list no longer reachable from any device,
    // since they may release devices.
    std::vector<std::unique_ptr<THidDevice>> devices = std::move(list_);
    list_.clear();
    std::vector<std::pair<THidDevice*, std::weak_ptr<void>>> heldOut;
    for (std::unique_ptr<THidDevice>& device : devices) {
        device->Controller_ = nullptr;
        if (device->CheckedOut())
            heldOut.emplace_back(device.get(), device->lifetime());
    }
    for (std::unique_ptr<THidDevice>& device : devices) {
        if (device->CheckedOut())
            (void)device.release(); // now the holder's alone
    }
    devices.clear();
    for (const auto& [device, alive] : heldOut) {
        if (!alive.expired())
            device->Unplug();
    }
    --liveControllers;
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::ScanDevices() {
    std::vector<std::unique_ptr<THidDevice>> found;
    if (!Platform_->available())
        return found;
    for (const HidInterface& info : Platform_->presentInterfaces()) {
        try {
            found.push_back(std::unique_ptr<THidDevice>(new THidDevice(info, this, Platform_)));
        } catch (const EControllerError&) {
            // Left out without a word; the next scan tries it again.
        }
    }
    return found;
}

THidDevice* THidDeviceController::DeviceAt(std::int32_t index) const {
    if (index < 0 || index >= DeviceCount())
        return nullptr;
    return list_[std::size_t(index)].get();
}

void THidDeviceController::DeviceChange() {
    if (InDeviceChange_) {
        ChangeAgain_ = true;
        return;
    }
    InDeviceChange_ = true;
    do {
        ChangeAgain_ = false;
        try {
            runDeviceChange();
        } catch (...) {
            InDeviceChange_ = false;
            throw;
        }
    } while (ChangeAgain_);
    InDeviceChange_ = false;
}

void THidDeviceController::runDeviceChange() {
    bool changed = false;
    std::vector<std::unique_ptr<THidDevice>> fresh = ScanDevices();

    // Removals, from the highest index down so that deleting an entry leaves
    // the indices still to visit alone.
    for (std::size_t i = list_.size(); i-- > 0;) {
        if (i >= list_.size())
            continue; // a handler shortened the list
        THidDevice* device = list_[i].get();
        const bool present =
            device->Attached() &&
            std::any_of(fresh.begin(), fresh.end(), [device](const auto& candidate) {
                return candidate->PnPInfo().identity == device->PnPInfo().identity;
            });
        if (present)
            continue;
        const std::weak_ptr<void> alive = device->lifetime();
        device->Unplug();
        if (const THidPlugEvent handler = OnRemoval_; handler && !alive.expired()) {
            device->setInEvent(true);
            handler(device);
            if (!alive.expired())
                device->setInEvent(false);
        }
        changed = true;
        if (alive.expired() || device->CheckedOut())
            continue;
        const auto at = std::find_if(list_.begin(), list_.end(),
                                     [device](const auto& entry) { return entry.get() == device; });
        if (at != list_.end())
            list_.erase(at);
    }

    // Objects that describe a device already listed are dropped; the rest
    // arrive in scan order.
    std::vector<std::unique_ptr<THidDevice>> arrivals;
    for (std::unique_ptr<THidDevice>& candidate : fresh) {
        const bool known = std::any_of(list_.begin(), list_.end(), [&candidate](const auto& entry) {
            return entry->Attached() && entry->PnPInfo().identity == candidate->PnPInfo().identity;
        });
        if (known) {
            candidate->Controller_ = nullptr;
            candidate.reset();
        } else {
            arrivals.push_back(std::move(candidate));
        }
    }
    for (std::unique_ptr<THidDevice>& arrival : arrivals) {
        THidDevice* device = arrival.get();
        list_.push_back(std::move(arrival));
        changed = true;
        if (const THidPlugEvent handler = OnArrival_) {
            const std::weak_ptr<void> alive = device->lifetime();
            device->setInEvent(true);
            handler(device);
            if (!alive.expired())
                device->setInEvent(false);
        }
    }

    const bool forced = std::exchange(ForceReport_, false);
    if (changed || forced || !FirstReportDone_) {
        if (const THidNotifyEvent handler = OnDeviceChange_)
            handler(this);
    }
}

void THidDeviceController::DeviceLost() {
    ForceReport_ = true;
    DeviceChange();
}

std::int32_t THidDeviceController::EnumerateDevices() {
    std::int32_t calls = 0;
    const std::size_t length = list_.size();
    for (std::size_t i = 0; i < length && i < list_.size(); ++i) {
        THidDevice* device = list_[i].get();
        if (!device->Attached())
            continue;
        ++calls;
        const std::weak_ptr<void> alive = device->lifetime();
        device->setInEvent(true);
        const THidEnumerateEvent handler = OnEnumerate_;
        const bool goOn = handler ? handler(device, std::int32_t(i)) : false;
        if (!alive.expired()) {
            device->setInEvent(false);
            if (!device->CheckedOut())
                device->closeQueryHandle();
        }
        if (!goOn)
            break;
    }
    return calls;
}

THidDevice* THidDeviceController::CheckOutDeviceAt(std::int32_t index) {
    THidDevice* device = DeviceAt(index);
    if (!device || device->CheckedOut())
        return nullptr;
    device->setCheckedOut(true);
    device->startReaderIfReady();
    return device;
}

void THidDeviceController::ReleaseDevice(THidDevice* device) {
    if (!device)
        return;
    THidDataEvent dataHandler = device->DataHandler();
    THidPlugEvent unplugHandler = device->UnplugHandler();
    device->SetDataHandler({});
    device->setUnplugHandler({});
    device->closeQueryHandle();
    device->InputReportByteLength_.reset();
    device->setCheckedOut(false);

    THidDeviceController* controller = device->Controller_;
    if (!controller) {
        delete device; // the controller is gone: the holder owned it alone
        return;
    }
    auto& list = controller->list_;
    const auto at = std::find_if(list.begin(), list.end(),
                                 [device](const auto& entry) { return entry.get() == device; });
    if (at == list.end()) {
        delete device;
        return;
    }
    if (device->Attached()) {
        try {
            auto replacement = std::unique_ptr<THidDevice>(
                new THidDevice(device->PnPInfo(), controller, controller->Platform_));
            replacement->DataHandler_ = std::move(dataHandler);
            replacement->UnplugHandler_ = std::move(unplugHandler);
            replacement->setReadWaitTime(device->ReadWaitTime());
            *at = std::move(replacement); // destroys the released object
            return;
        } catch (const EControllerError&) {
            // It no longer opens: treated as gone. The next scan lists it
            // again if it is still there.
        }
    }
    list.erase(at);
}

void THidDeviceController::setOnDeviceChange(THidNotifyEvent handler) {
    if (handler == OnDeviceChange_)
        return;
    OnDeviceChange_ = std::move(handler);
    DeviceChange();
    FirstReportDone_ = true;
}

void THidDeviceController::setOnDeviceData(THidDataEvent handler) {
    if (handler == OnDeviceData_)
        return;
    for (const auto& device : list_) {
        if (device->DataHandler() == OnDeviceData_)
            device->SetDataHandler(handler);
    }
    OnDeviceData_ = std::move(handler);
}

void THidDeviceController::setOnDeviceDataError(THidDataErrorEvent handler) {
    if (handler == OnDeviceDataError_)
        return;
    for (const auto& device : list_) {
        if (device->DataErrorHandler() == OnDeviceDataError_)
            device->setDataErrorHandler(handler);
    }
    OnDeviceDataError_ = std::move(handler);
}

void THidDeviceController::setOnDeviceUnplug(THidPlugEvent handler) {
    if (handler == OnDeviceUnplug_)
        return;
    for (const auto& device : list_) {
        if (device->UnplugHandler() == OnDeviceUnplug_)
            device->setUnplugHandler(handler);
    }
    OnDeviceUnplug_ = std::move(handler);
}

void THidDeviceController::setDevThreadSleepTime(std::int32_t milliseconds) {
    if (milliseconds == DevThreadSleepTime_)
        return;
    for (const auto& device : list_) {
        if (device->ReadWaitTime() == DevThreadSleepTime_)
            device->setReadWaitTime(milliseconds);
    }
    DevThreadSleepTime_ = milliseconds;
}

} // namespace qm45
