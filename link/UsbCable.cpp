#include "link/UsbCable.h"

#include "link/HidDevice.h"
#include "link/HidDeviceController.h"

namespace qm45 {

QString UsbCable::describeDevice(THidDevice& device) {
    QString text = device.ProductString();
    if (text.isEmpty())
        text = QString::asprintf("Device VID=%.4X PID=%.4X", unsigned(device.VendorID()),
                                 unsigned(device.ProductID()));
    const QString serial = device.SerialNumberString();
    if (!serial.isEmpty())
        text += QStringLiteral(" (Serial=%1)").arg(serial);
    return text;
}

UsbCableLink::UsbCableLink(THidDeviceController& controller, DataHandler data,
                           StateHandler stateChanged)
    : controller_(controller), data_(std::move(data)), stateChanged_(std::move(stateChanged)) {}

UsbCableLink::~UsbCableLink() {
    if (started_)
        controller_.setOnDeviceChange({});
    data_ = {};
    release();
}

void UsbCableLink::start() {
    if (started_) {
        deviceChange();
        return;
    }
    started_ = true;
    // The first handler is called at once.
    controller_.setOnDeviceChange(
        THidNotifyEvent([this](THidDeviceController*) { deviceChange(); }));
}

void UsbCableLink::release() {
    THidDevice* cable = cable_;
    cable_ = nullptr;
    if (!cable)
        return;
    cable->SetDataHandler({});
    THidDeviceController::ReleaseDevice(cable);
}

void UsbCableLink::deviceChange() {
    // Another device came or went: the cable held stays as it is.
    if (cable_ && cable_->Attached() && state_ == State::Listening)
        return;
    release();

    std::int32_t found = -1;
    controller_.setOnEnumerate(THidEnumerateEvent([&found](THidDevice* device, std::int32_t index) {
        // The last one that matches, as the window picks it.
        if (UsbCable::describeDevice(*device) == UsbCable::kName)
            found = index;
        return true;
    }));
    controller_.EnumerateDevices();
    controller_.setOnEnumerate({});

    if (found >= 0)
        cable_ = controller_.CheckOutDeviceAt(found);
    if (!cable_) {
        setState(State::NoCable);
        return;
    }
    // Sending opens the device; whether it may be read and written is known then.
    (void)cable_->SendFeatureReport(UsbCable::kSetup.data(), UsbCable::kSetup.size());
    if (!cable_->ReadWriteAccess()) {
        release();
        setState(State::NoAccess);
        return;
    }
    cable_->SetDataHandler(THidDataEvent(
        [this](THidDevice*, std::uint8_t reportId, const std::uint8_t* bytes, std::uint16_t size) {
            if (data_)
                data_(reportId, bytes, size);
        }));
    setState(State::Listening);
}

void UsbCableLink::setUpAgain() {
    if (cable_ && state_ == State::Listening)
        (void)cable_->SendFeatureReport(UsbCable::kSetup.data(), UsbCable::kSetup.size());
}

void UsbCableLink::setState(State state) {
    if (state == state_ && !firstReport_)
        return;
    firstReport_ = false;
    state_ = state;
    if (stateChanged_)
        stateChanged_(state);
}

} // namespace qm45
