#pragma once

#include <QObject>

#include <array>
#include <cstdint>

class QAbstractButton;
class QWidget;

namespace qm45 {

class ClickablePanel;
class TSerialPortDriver;

// The connection controls of the top tool bar: the port selector, the serial
// connect button and the link lamp. All calls come from the main thread.
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

    ConnectionControl(const Controls& controls, TSerialPortDriver& COMM2, QObject* parent = nullptr);

    // Port selector: each panel selects the port after its own.
    void COM11Click(); // on BtCOM4: back to COM1
    void COM21Click(); // on BtCOM1
    void COM31Click(); // on BtCOM2
    void COM41Click(); // on BtCOM3

    // After the click has toggled COMCon.
    void COMConClick();

    // Every 100 ms: the lamp goes dark on the third tick after the last frame.
    void ConTimerTimer();

    // A frame was decoded: light the lamp and restart the count.
    void frameDecoded();

    [[nodiscard]] std::int32_t LinkAliveTicks() const { return LinkAliveTicks_; }
    [[nodiscard]] QString portHint(int index) const;

private:
    void selectPort(int index);
    void setLampLit(bool lit);

    Controls c_;
    TSerialPortDriver& COMM2_;
    std::int32_t LinkAliveTicks_ = 0;
};

} // namespace qm45
