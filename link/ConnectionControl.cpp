#include "link/ConnectionControl.h"

#include "link/AccessHelp.h"
#include "link/HidDevice.h"
#include "link/HidDeviceController.h"
#include "link/SerialPortDriver.h"
#include "link/UsbCable.h"
#include "view/ClickablePanel.h"
#include "view/Dialogs.h"

#include <QAbstractButton>

namespace qm45 {

ConnectionControl::ConnectionControl(const Controls& controls, TSerialPortDriver& COMM2,
                                     QObject* parent, Dialogs* dialogs)
    : QObject(parent), c_(controls), COMM2_(COMM2), dialogs_(dialogs) {
    connect(c_.BtCOM[0], &ClickablePanel::clicked, this, &ConnectionControl::COM21Click);
    connect(c_.BtCOM[1], &ClickablePanel::clicked, this, &ConnectionControl::COM31Click);
    connect(c_.BtCOM[2], &ClickablePanel::clicked, this, &ConnectionControl::COM41Click);
    connect(c_.BtCOM[3], &ClickablePanel::clicked, this, &ConnectionControl::COM11Click);
    for (int i = 0; i < 4; ++i)
        c_.BtCOM[i]->setHintProvider([this, i] { return portHint(i); });
    connect(c_.COMCon, &QAbstractButton::clicked, this, &ConnectionControl::COMConClick);
    COMM2_.setOnPortLost([this](TSerialPortDriver* sender, const QString& device) {
        COMM2PortLost(sender, device);
    });
}

ConnectionControl::~ConnectionControl() {
    COMM2_.setOnPortLost({});
    if (!HidCtl_)
        return;
    // Reports served while the readers stop must not reach a window that is
    // going away.
    hooks_ = {};
    HidCtl_->setOnEnumerate({});
    HidCtl_->setOnDeviceChange({});
    releaseDeviceList();
}

void ConnectionControl::attachUsb(THidDeviceController& HidCtl, Dialogs& dialogs, UsbHooks hooks) {
    HidCtl_ = &HidCtl;
    dialogs_ = &dialogs;
    hooks_ = std::move(hooks);
    connect(c_.USBCon, &QAbstractButton::clicked, this, &ConnectionControl::USBConClick);
    HidCtl_->setOnEnumerate(THidEnumerateEvent(this, &ConnectionControl::HidCtlEnumerate));
    HidCtl_->setOnDeviceChange(THidNotifyEvent(this, &ConnectionControl::HidCtlDeviceChange));
}

void ConnectionControl::COM11Click() {
    selectPort(0);
}
void ConnectionControl::COM21Click() {
    selectPort(1);
}
void ConnectionControl::COM31Click() {
    selectPort(2);
}
void ConnectionControl::COM41Click() {
    selectPort(3);
}

void ConnectionControl::selectPort(int index) {
    for (int i = 0; i < 4; ++i)
        c_.BtCOM[i]->setVisible(i == index);
    COMM2_.setComPort(TComPortNumber(index));
}

QString ConnectionControl::portHint(int index) const {
    const QString device = COMM2_.devicePathFor(TComPortNumber(index));
    const QString name = QStringLiteral("COM %1").arg(index + 1);
    if (device.isEmpty())
        return tr("%1: no such serial port on this machine").arg(name);
    return tr("%1: %2").arg(name, device);
}

void ConnectionControl::COMConClick() {
    const bool down = c_.COMCon->isChecked();
    if (down) {
        if (!COMM2_.OpenPort()) {
            // Nothing changes but the button, which pops up again.
            c_.COMCon->setChecked(false);
            showError(openFailureText(int(COMM2_.ComPort()) + 1, COMM2_.LastOpenFailure()));
            return;
        }
        for (ClickablePanel* panel : c_.BtCOM)
            panel->setEnabled(false);
        c_.USBCon->setVisible(false);
        c_.COMCon->setText(QStringLiteral("COM Disconnect"));
        return;
    }
    COMM2_.ClosePort();
    showSerialIdle();
}

void ConnectionControl::showSerialIdle() {
    for (ClickablePanel* panel : c_.BtCOM)
        panel->setEnabled(true);
    c_.USBCon->setVisible(true);
    c_.COMCon->setText(QStringLiteral("COM Connection"));
}

void ConnectionControl::COMM2PortLost(TSerialPortDriver*, const QString& device) {
    // The driver has closed the port already: the same state as after a click.
    c_.COMCon->setChecked(false);
    showSerialIdle();
    showError(portLostText(int(COMM2_.ComPort()) + 1, device));
}

QString ConnectionControl::openFailureText(int comNumber, const SerialOpenFailure& failure) {
    return serialOpenFailureText(QStringLiteral("COM %1").arg(comNumber), failure);
}

QString ConnectionControl::portLostText(int comNumber, const QString& device) {
    return serialPortLostText(QStringLiteral("COM %1").arg(comNumber), device);
}

void ConnectionControl::ConTimerTimer() {
    if (LinkAliveTicks_ != 2) {
        ++LinkAliveTicks_;
        return;
    }
    if (HidCtl_ && hooks_.UsbIdleCount && hooks_.UsbIdleCount() >= kUsbIdleLimit) {
        if (hooks_.setUsbIdleCount)
            hooks_.setUsbIdleCount(0);
        c_.USBCon->setChecked(false);
        // The caption and the hidden controls stay as they are: one click
        // on USBCon connects again.
        if (CurrentDevice_)
            CurrentDevice_->SetDataHandler({});
        showInformation(UsbCable::kMeterSilentText);
    }
    setLampLit(false);
    LinkAliveTicks_ = 0;
}

void ConnectionControl::frameDecoded() {
    setLampLit(true);
    LinkAliveTicks_ = 0;
}

void ConnectionControl::setLampLit(bool lit) {
    c_.CONok->setVisible(lit);
    c_.CONokN->setVisible(!lit);
}

void ConnectionControl::showInformation(const QString& text) {
    if (dialogs_)
        dialogs_->information(c_.USBCon->window(), text);
}

void ConnectionControl::showError(const QString& text) {
    if (dialogs_)
        dialogs_->error(c_.COMCon->window(), text);
}

THidDevice* ConnectionControl::selectedEntryDevice() const {
    return Selected_ ? DeviceList_[*Selected_].device : nullptr;
}

void ConnectionControl::releaseDeviceList() {
    CurrentDevice_ = nullptr;
    const std::vector<DeviceEntry> entries = std::move(DeviceList_);
    DeviceList_.clear();
    Selected_.reset();
    for (const DeviceEntry& entry : entries)
        THidDeviceController::ReleaseDevice(entry.device);
}

void ConnectionControl::HidCtlDeviceChange(THidDeviceController*) {
    DetachSelectedDevice();
    // Every device object is replaced, the one CurrentDevice pointed to too.
    releaseDeviceList();
    HidCtl_->EnumerateDevices();
    for (std::size_t i = 0; i < DeviceList_.size(); ++i) {
        if (DeviceList_[i].text == UsbCable::kName)
            Selected_ = i;
    }
}

bool ConnectionControl::HidCtlEnumerate(THidDevice* HidDev, std::int32_t Idx) {
    DeviceEntry entry;
    entry.text = DescribeDevice(*HidDev);
    entry.device = HidCtl_->CheckOutDeviceAt(Idx);
    DeviceList_.push_back(entry);
    return true;
}

QString ConnectionControl::DescribeDevice(THidDevice& device) {
    return UsbCable::describeDevice(device);
}

void ConnectionControl::DetachSelectedDevice() {
    CurrentDevice_ = nullptr;
    if (!Selected_)
        return;
    CurrentDevice_ = selectedEntryDevice();
    if (CurrentDevice_ && CurrentDevice_->ReadWriteAccess())
        CurrentDevice_->SetDataHandler({});
}

void ConnectionControl::SendCableSetup() {
    CurrentDevice_ = nullptr;
    if (!Selected_) {
        showInformation(UsbCable::kNoCableText);
        c_.USBCon->setChecked(false);
        return;
    }
    CurrentDevice_ = selectedEntryDevice();
    if (CurrentDevice_)
        (void)CurrentDevice_->SendFeatureReport(UsbCable::kSetup.data(), UsbCable::kSetup.size());
}

void ConnectionControl::USBConClick() {
    DetachSelectedDevice();
    SendCableSetup();
    if (hooks_.setUsbIdleCount)
        hooks_.setUsbIdleCount(0);
    CurrentDevice_ = nullptr;
    if (!Selected_)
        return;
    CurrentDevice_ = selectedEntryDevice();
    if (!CurrentDevice_ || !CurrentDevice_->ReadWriteAccess()) {
        c_.USBCon->setChecked(false);
        if (CurrentDevice_)
            // Linux lets only the users a udev rule names open a hidraw node;
            // without the rule the cable is listed (its strings come from
            // sysfs) but cannot be used.
            showInformation(cableAccessHelp());
        return;
    }
    const bool down = c_.USBCon->isChecked();
    if (down)
        CurrentDevice_->SetDataHandler(THidDataEvent(this, &ConnectionControl::usbData));
    else
        CurrentDevice_->SetDataHandler({});
    c_.USBCon->setText(down ? QStringLiteral("USB Disconnect") : QStringLiteral("USB Connection"));
    // Shown again all four: stacked, "COM 4" is the one on top.
    for (ClickablePanel* panel : c_.BtCOM)
        panel->setVisible(!down);
    c_.COMCon->setVisible(!down);
}

void ConnectionControl::usbData(THidDevice*, std::uint8_t ReportID, const std::uint8_t* Data,
                                std::uint16_t Size) {
    if (hooks_.HidData45A)
        hooks_.HidData45A(ReportID, Data, Size);
}

} // namespace qm45
