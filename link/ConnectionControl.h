#pragma once

#include "link/SerialPlatform.h"
#include "link/UsbCable.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QWidget;

namespace qm45 {

class ClickablePanel;
class Dialogs;
class TSerialPortDriver;
class THidDevice;
class THidDeviceController;

// The connection controls of the top tool bar: the port selector, the serial
// and USB connect buttons, the link lamp and the USB watchdog. All calls come
// from the main thread.
//
// The USB half holds every HID device of the system checked out from the
// controller (DeviceList) and picks the cable by its description alone: the
// last entry that reads exactly "USB to Serial" (a product string of that
// name and no serial number). It is rebuilt whenever any HID device comes or
// goes; a connection running then stops until the user connects again.
class ConnectionControl : public QObject {
    Q_OBJECT
public:
    struct Controls {
        std::array<ClickablePanel*, 4> BtCOM{}; // BtCOM1..BtCOM4
        QAbstractButton* COMCon = nullptr;
        QAbstractButton* USBCon = nullptr;
        QWidget* CONok = nullptr;  // lamp lit
        QWidget* CONokN = nullptr; // lamp dark
    };

    // What the USB half asks of the window. Each runs on the main thread.
    struct UsbHooks {
        // The USB frame handler. Data holds Size bytes, valid during the call only.
        std::function<void(std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>
            HidData45A;
        // UsbIdleCount lives with the frame assembler, which counts it.
        std::function<std::int32_t()> UsbIdleCount;
        std::function<void(std::int32_t)> setUsbIdleCount;
    };

    struct DeviceEntry {
        QString text;                 // DescribeDevice of the device
        THidDevice* device = nullptr; // checked out by this object; none if that failed
    };

    // After this many idle reports without a decoded frame the watchdog ends
    // the USB connection.
    static constexpr std::int32_t kUsbIdleLimit = UsbCable::kIdleLimit;

    // The dialogs (if given) tell the user why a serial port cannot be opened
    // or has gone; they must outlive this object.
    ConnectionControl(const Controls& controls, TSerialPortDriver& COMM2, QObject* parent = nullptr,
                      Dialogs* dialogs = nullptr);
    // Releases the devices it holds (their readers stop first).
    ~ConnectionControl() override;

    // Installs the USB half, once: takes the controller's OnEnumerate and
    // OnDeviceChange (which builds DeviceList at once) and the USBCon clicks.
    // The controller and the dialogs must outlive this object.
    void attachUsb(THidDeviceController& HidCtl, Dialogs& dialogs, UsbHooks hooks);

    // Port selector: each panel selects the port after its own.
    void COM11Click(); // on BtCOM4: back to COM1
    void COM21Click(); // on BtCOM1
    void COM31Click(); // on BtCOM2
    void COM41Click(); // on BtCOM3

    // After the click has toggled COMCon. A port that cannot be opened puts
    // COMCon back up and says why.
    void COMConClick();
    // COMM2's OnPortLost: the open port has gone. Back to idle, as after a
    // click, and the user is told.
    void COMM2PortLost(TSerialPortDriver* Sender, const QString& device);

    // The text telling the user why "COM n" could not be opened.
    [[nodiscard]] static QString openFailureText(int comNumber, const SerialOpenFailure& failure);
    [[nodiscard]] static QString portLostText(int comNumber, const QString& device);

    // After the click has toggled USBCon.
    void USBConClick();

    // Every 100 ms: the lamp goes dark on the third tick after the last frame;
    // on that tick the USB watchdog ends a connection that has delivered
    // kUsbIdleLimit idle reports since its last data.
    void ConTimerTimer();

    // The controller's OnDeviceChange and OnEnumerate: rebuild DeviceList.
    void HidCtlDeviceChange(THidDeviceController* Sender);
    bool HidCtlEnumerate(THidDevice* HidDev, std::int32_t Idx);

    // Product string, or "Device VID=xxxx PID=xxxx"; then " (Serial=...)" if any.
    [[nodiscard]] static QString DescribeDevice(THidDevice& device);
    // CurrentDevice becomes the selected device, whose reader is stopped.
    void DetachSelectedDevice();
    // Sends the cable its set-up report, or tells the user there is no cable.
    void SendCableSetup();

    [[nodiscard]] const std::vector<DeviceEntry>& DeviceList() const { return DeviceList_; }
    [[nodiscard]] std::optional<std::size_t> SelectedDevice() const { return Selected_; }
    // The device the last USB action worked on. Never a released object: a
    // rebuild sets it to none.
    [[nodiscard]] THidDevice* CurrentDevice() const { return CurrentDevice_; }

    // A frame was decoded: light the lamp and restart the count.
    void frameDecoded();

    [[nodiscard]] std::int32_t LinkAliveTicks() const { return LinkAliveTicks_; }
    [[nodiscard]] QString portHint(int index) const;

private:
    void selectPort(int index);
    void setLampLit(bool lit);
    void usbData(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data,
                 std::uint16_t Size);
    [[nodiscard]] THidDevice* selectedEntryDevice() const;
    void releaseDeviceList();
    void showInformation(const QString& text);
    void showError(const QString& text);
    void showSerialIdle();

    Controls c_;
    TSerialPortDriver& COMM2_;
    std::int32_t LinkAliveTicks_ = 0;

    THidDeviceController* HidCtl_ = nullptr; // none until attachUsb
    Dialogs* dialogs_ = nullptr;
    UsbHooks hooks_;
    std::vector<DeviceEntry> DeviceList_;
    std::optional<std::size_t> Selected_;
    THidDevice* CurrentDevice_ = nullptr;
};

} // namespace qm45
