#include "link/ConnectionControl.h"

#include "link/SerialPortDriver.h"
#include "view/ClickablePanel.h"

#include <QAbstractButton>

namespace qm45 {

ConnectionControl::ConnectionControl(const Controls& controls, TSerialPortDriver& COMM2,
                                     QObject* parent)
    : QObject(parent), c_(controls), COMM2_(COMM2) {
    connect(c_.BtCOM[0], &ClickablePanel::clicked, this, &ConnectionControl::COM21Click);
    connect(c_.BtCOM[1], &ClickablePanel::clicked, this, &ConnectionControl::COM31Click);
    connect(c_.BtCOM[2], &ClickablePanel::clicked, this, &ConnectionControl::COM41Click);
    connect(c_.BtCOM[3], &ClickablePanel::clicked, this, &ConnectionControl::COM11Click);
    for (int i = 0; i < 4; ++i)
        c_.BtCOM[i]->setHintProvider([this, i] { return portHint(i); });
    connect(c_.COMCon, &QAbstractButton::clicked, this, &ConnectionControl::COMConClick);
}

void ConnectionControl::COM11Click() { selectPort(0); }
void ConnectionControl::COM21Click() { selectPort(1); }
void ConnectionControl::COM31Click() { selectPort(2); }
void ConnectionControl::COM41Click() { selectPort(3); }

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
        // A port that is missing or busy fails silently: the lamp simply stays dark.
        (void)COMM2_.OpenPort();
    } else {
        COMM2_.ClosePort();
    }
    for (ClickablePanel* panel : c_.BtCOM)
        panel->setEnabled(!down);
    c_.USBCon->setVisible(!down);
    c_.COMCon->setText(down ? QStringLiteral("COM Disconnect") : QStringLiteral("COM Connection"));
}

void ConnectionControl::ConTimerTimer() {
    if (LinkAliveTicks_ != 2) {
        ++LinkAliveTicks_;
        return;
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

} // namespace qm45
