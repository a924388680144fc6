#pragma once

#include "app/TFCOMM.h"
#include "view/LcdPanel.h"

#include "../link/FakeHidPlatform.h"
#include "../link/FixedPortDirectory.h"
#include "../support/FakeDialogs.h"
#include "../support/FakeSteadyClock.h"
#include "../support/FixedClock.h"
#include "../support/MeterFrames.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <array>

#include <memory>

namespace qm45::test {

// The whole main window with every seam faked: ports and HID devices only as
// the test sets them up, message boxes answered by FakeDialogs, a fixed
// locale, a clock standing at 09:05:03 and a steady clock that moves only
// when the test advances it. Tests tick the lamp timer themselves. Message
// boxes reach FakeDialogs through the window's gate, so they open from the
// event loop: wait for them with QTRY_.
struct WindowFixture {
    void open(const QString& decimalMark = QStringLiteral(".")) {
        TFCOMMServices services;
        services.serialPlatform = std::move(serialPlatform);
        services.serialPorts = ports;
        services.dialogs = dialogs;
        services.locale = std::make_shared<FixedLocale>(decimalMark);
        services.hidPlatform = hid;
        services.recordClock = std::make_shared<FixedClock>();
        services.steadyClock = steadyClock;
        services.printerDialogs = printerDialogs;
        window = std::make_unique<TFCOMM>(std::move(services));
        window->findChild<QTimer*>(QStringLiteral("ConTimer"))->stop();
    }

    template <typename T> T* child(const char* name) const {
        T* found = window->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }

    // What the window shows once the frame "399991101" (3.9999 V DC, AUTO)
    // has been decoded, on either link: the reading, the replica, the bar and
    // the measured value.
    void checkShowsThreeVoltsNinetyNineNinetyNine() const {
        const CurrentReading& r = window->currentReading();
        QCOMPARE(r.NumericValue, 39999.0);
        QCOMPARE(QString::fromStdString(r.UnitText), QStringLiteral("V"));
        QCOMPARE(QString::fromStdString(r.FunctionText), QStringLiteral("DC"));
        QCOMPARE(QString::fromStdString(r.AutoText), QStringLiteral("AUTO"));
        const LcdState& lcd = child<LcdPanel>("Panel1")->state();
        QCOMPARE(lcd.digits, (std::array<char, 5>{'3', '9', '9', '9', '9'}));
        QVERIFY(lcd.isShown(LcdV) && lcd.isShown(LcdP0) && lcd.isShown(LcdAuto));
        QVERIFY(!lcd.isShown(LcdFH));
        QCOMPARE(child<QProgressBar>("PBar2")->value(), 39);
        QCOMPARE(child<QLineEdit>("T1VALUE")->text(), QStringLiteral("3.9999"));
    }

    std::unique_ptr<SerialPlatform> serialPlatform; // none: the real one
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    std::shared_ptr<FixedPortDirectory> ports = std::make_shared<FixedPortDirectory>();
    std::shared_ptr<FakeHidPlatform> hid = std::make_shared<FakeHidPlatform>();
    std::shared_ptr<FakeSteadyClock> steadyClock = std::make_shared<FakeSteadyClock>();
    std::shared_ptr<PrinterDialogs> printerDialogs; // empty: the platform's
    std::unique_ptr<TFCOMM> window;
};

} // namespace qm45::test
