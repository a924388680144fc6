#include "record/SystemLocale.h"
#include "app/TFCOMM.h"
#include "link/ConnectionControl.h"
#include "link/LinuxSerialPlatform.h"
#include "link/LinuxSerialPortDirectory.h"
#include "link/SerialPortDriver.h"
#include "view/LcdPanel.h"

#include "../link/FakeSerialPlatform.h"
#include "../link/PseudoTerminal.h"
#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <stdexcept>
#include <unistd.h>
#include <utility>

using namespace qm45;
using qm45::test::frame;
using qm45::test::WindowFixture;
using qm45::test::FakeSerialPlatform;
using qm45::test::PseudoTerminal;

namespace {

struct Fixture : WindowFixture {
    explicit Fixture(const QString& decimalMark = QStringLiteral("."),
                     std::unique_ptr<SerialPlatform> platform = nullptr) {
        if (pty.isValid())
            ports->setDevice(1, pty.slavePath());
        serialPlatform = std::move(platform);
        open(decimalMark);
    }

    QWidget* lampLit() const { return child<QWidget>("CONok"); }
    QWidget* lampDark() const { return child<QWidget>("CONokN"); }
    QPushButton* COMCon() const { return child<QPushButton>("COMCon"); }

    void connectSerial() const { QTest::mouseClick(COMCon(), Qt::LeftButton); }
    QByteArray digits() const {
        const auto& d = child<LcdPanel>("Panel1")->state().digits;
        return QByteArray(d.data(), int(d.size()));
    }

    // The serial side as nobody connected: COMCon up, the selector usable, USBCon shown.
    void checkSerialIdle(const QString& caption) const {
        QVERIFY(!COMCon()->isChecked());
        QCOMPARE(COMCon()->text(), caption);
        for (const char* name : {"BtCOM1", "BtCOM2", "BtCOM3", "BtCOM4"})
            QVERIFY2(child<QWidget>(name)->isEnabled(), name);
        QVERIFY(child<QWidget>("USBCon")->isVisibleTo(window.get()));
        QVERIFY(!window->COMM2().IsOpen());
    }

    PseudoTerminal pty;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void startsWithCaptionAndStartupValues();
    void decimalMarkComesFromTheSystemLocale();
    void controlsSitAtTheirPlaces_data();
    void controlsSitAtTheirPlaces();
    void captionsFitTheirControls();
    void recordMenuOffersSixLimits();
    void quitAnsweredNoLeavesTheConnectionRunning();
    void quitAnsweredYesEndsTheProgram();
    void portSelectorStepsThroughFourPorts();
    void selectorIgnoresClicksWhileConnected();
    void selectorHintNamesTheDeviceBehindThePort();
    void meterOnCom1ShowsLive();
    void lampGoesDarkOnThirdTick();
    void rejectedFrameShowsOneErrorAndBadStreamDoesNotStack();
    void sameErrorReturnsAfterAnAcceptedFrameOrFiveSeconds();
    void meterSendingOnlyRejectedFramesLeavesDisconnectReachable();
    void noiseAndLostBytesNeverStopTheStream();
    void failedConnectStaysIdleAndSaysWhy_data();
    void failedConnectStaysIdleAndSaysWhy();
    void unpluggedPortEndsTheConnectionWithOneMessage();
    void exceptionInTheUsbFrameHandlerShowsOneErrorAndReadingGoesOn();
};

void MainWindowTest::startsWithCaptionAndStartupValues() {
    Fixture f;
    QCOMPARE(f.window->windowTitle(), QStringLiteral("QM45C/D/E Interface Program Ver: 3.00"));
    QCOMPARE(f.window->centralWidget()->size(), QSize(716, 474));
    QCOMPARE(f.window->minimumSize(), f.window->maximumSize());
    QVERIFY(!(f.window->windowFlags() & Qt::WindowMaximizeButtonHint));

    QCOMPARE(f.window->FullScale(), 40000);
    QCOMPARE(f.window->BarMax(), 40);
    QCOMPARE(f.window->LastValidHigh(), QStringLiteral("4000"));
    QCOMPARE(f.window->LastValidLow(), QStringLiteral("-4000"));
    QCOMPARE(f.window->RecordNo(), 1);
    QCOMPARE(f.window->RecordLimit(), 10000);
    QCOMPARE(QString::fromStdString(f.window->protocol().state().memory.PrevUnitText), QStringLiteral("113"));

    QCOMPARE(f.child<LcdPanel>("Panel1")->state(), LcdState::startup());
    QCOMPARE(f.child<QProgressBar>("PBar2")->value(), 20);
    QCOMPARE(f.child<QProgressBar>("PBar2")->maximum(), 40);
    QVERIFY(f.lampDark()->isVisibleTo(f.window.get()));
    QVERIFY(!f.lampLit()->isVisibleTo(f.window.get()));
    QCOMPARE(f.COMCon()->text(), QStringLiteral("COM Connect"));
    QCOMPARE(f.child<QPushButton>("USBCon")->text(), QStringLiteral("USB Connect"));
    QVERIFY(!f.window->COMM2().IsOpen());
    QCOMPARE(f.window->COMM2().ComPort(), pnCOM1);
    QCOMPARE(f.window->COMM2().ComPortSpeed(), br2400);
    QCOMPARE(f.child<QLineEdit>("T1HI")->text(), QStringLiteral("4000"));
    QCOMPARE(f.child<QLineEdit>("T1LO")->text(), QStringLiteral("-4000"));
    QCOMPARE(f.child<QLineEdit>("RecordSITime")->text(), QStringLiteral("1"));
    QVERIFY(f.child<QCheckBox>("RepeatSet")->isChecked());
    QVERIFY(!f.child<QCheckBox>("RecordSI")->isChecked());
}

void MainWindowTest::decimalMarkComesFromTheSystemLocale() {
    {
        Fixture comma(QStringLiteral(","));
        QCOMPARE(comma.window->DecimalMark(), QStringLiteral(","));
        QVERIFY(comma.pty.isValid());
        comma.connectSerial();
        QVERIFY(comma.pty.writeToMaster("\n" + frame("399991101")));
        QTRY_COMPARE(QString::fromStdString(comma.window->currentReading().ValueText), QStringLiteral("3,9999"));
    }
    // One window at a time: a program has one HID controller.
    Fixture unknown(QString{});
    QCOMPARE(unknown.window->DecimalMark(), QString());
}

void MainWindowTest::controlsSitAtTheirPlaces_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    const struct {
        const char* name;
        QRect place;
    } rows[] = {
        {"Panel6", {0, 0, 716, 30}},       {"BtCOM1", {3, 3, 61, 24}},
        {"BtCOM2", {3, 5, 61, 24}},        {"BtCOM3", {3, 4, 61, 24}},
        {"BtCOM4", {3, 4, 61, 24}},        {"COMCon", {65, 2, 147, 25}},
        {"USBCon", {218, 2, 117, 25}},     {"BitBtn1", {641, 1, 74, 25}},
        {"Panel1", {4, 29, 334, 136}},     {"PBar2", {3, 167, 334, 17}},
        {"Panel4", {338, 29, 375, 120}},   {"Panel19", {339, 152, 372, 33}},
        {"RepeatSet", {2, 187, 63, 20}},   {"DBGrid1", {1, 208, 334, 264}},
        {"Chtshow", {336, 187, 377, 286}},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.name) << row.place;
    // Places given by their top-left corner only.
    QTest::newRow("RecordSI") << QStringLiteral("RecordSI") << QRect(64, 187, -1, -1);
    QTest::newRow("RecordSITime") << QStringLiteral("RecordSITime") << QRect(183, 187, -1, -1);
    QTest::newRow("RecordNew") << QStringLiteral("RecordNew") << QRect(247, 187, -1, -1);
    QTest::newRow("OpenDataFiles") << QStringLiteral("OpenDataFiles") << QRect(269, 187, -1, -1);
    QTest::newRow("saveas") << QStringLiteral("saveas") << QRect(291, 187, -1, -1);
    QTest::newRow("BtPrint") << QStringLiteral("BtPrint") << QRect(313, 187, -1, -1);
}

void MainWindowTest::controlsSitAtTheirPlaces() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    Fixture f;
    auto* w = f.window->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    const QRect actual(w->mapTo(f.window->centralWidget(), QPoint(0, 0)), w->size());
    if (place.width() < 0)
        QCOMPARE(actual.topLeft(), place.topLeft());
    else
        QCOMPARE(actual, place);
    QVERIFY2(f.window->centralWidget()->rect().contains(actual), qPrintable(name));
}

void MainWindowTest::captionsFitTheirControls() {
    Fixture f;
    f.window->show();
    for (QPushButton* b : f.window->findChildren<QPushButton*>()) {
        const int needed = b->fontMetrics().horizontalAdvance(b->text()) +
                           (b->icon().isNull() ? 0 : b->iconSize().width() + 4) + 8;
        QVERIFY2(needed <= b->width(), qPrintable(QStringLiteral("%1: needs %2, has %3")
                                                       .arg(b->objectName())
                                                       .arg(needed)
                                                       .arg(b->width())));
    }
    for (QCheckBox* box : f.window->findChildren<QCheckBox*>()) {
        const int needed = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                           box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box) +
                           box->fontMetrics().horizontalAdvance(box->text());
        QVERIFY2(needed <= box->width(), qPrintable(QStringLiteral("%1: needs %2, has %3")
                                                         .arg(box->objectName())
                                                         .arg(needed)
                                                         .arg(box->width())));
    }
    for (QLabel* label : f.child<QWidget>("Panel4")->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->objectName()));
    }
    // The period edit lies over the run of blanks in the sampling caption: the
    // unit "'S" must start to the right of it and the words end to its left.
    auto* box = f.child<QCheckBox>("RecordSI");
    auto* edit = f.child<QLineEdit>("RecordSITime");
    const int textLeft = box->x() + box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                         box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    const QString caption = box->text();
    const int unitLeft = textLeft + box->fontMetrics().horizontalAdvance(caption.left(caption.indexOf('\'')));
    const int wordsRight = textLeft + box->fontMetrics().horizontalAdvance(QStringLiteral("Sampling Interval"));
    QVERIFY2(unitLeft >= edit->geometry().right() + 1,
             qPrintable(QStringLiteral("'S at %1, edit ends at %2").arg(unitLeft).arg(edit->geometry().right())));
    QVERIFY2(wordsRight <= edit->x(),
             qPrintable(QStringLiteral("words end at %1, edit starts at %2").arg(wordsRight).arg(edit->x())));
}

void MainWindowTest::recordMenuOffersSixLimits() {
    Fixture f;
    const QList<QAction*> menus = f.window->menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.first()->text(), QStringLiteral("Record"));
    const QList<QAction*> items = menus.first()->menu()->actions();
    QStringList captions;
    QStringList checked;
    for (QAction* a : items) {
        captions << a->text();
        if (a->isChecked())
            checked << a->text();
    }
    QCOMPARE(captions, (QStringList{"1000", "5000", "10000", "50000", "100000", "limitless"}));
    QCOMPARE(checked, QStringList{"10000"});

    items.first()->trigger();
    QCOMPARE(f.window->RecordLimit(), 1000);
    QVERIFY(items.first()->isChecked());
    QVERIFY(!items.at(2)->isChecked());
    items.last()->trigger();
    QCOMPARE(f.window->RecordLimit(), 10000000);
}

void MainWindowTest::quitAnsweredNoLeavesTheConnectionRunning() {
    Fixture f;
    QVERIFY(f.pty.isValid());
    QSignalSpy terminate(f.window.get(), &TFCOMM::terminateRequested);
    f.connectSerial();
    QVERIFY(f.window->COMM2().IsOpen());

    f.dialogs->answer = Dialogs::Answer::No;
    QTest::mouseClick(f.child<QPushButton>("BitBtn1"), Qt::LeftButton);
    QCOMPARE(f.dialogs->questions, QStringList{"Are you sure that you want to quit this application?"});
    QCOMPARE(terminate.count(), 0);
    QVERIFY(f.window->COMM2().IsOpen());

    QVERIFY(f.pty.writeToMaster("\n" + frame("123452101")));
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText), QStringLiteral("12.345"));
}

void MainWindowTest::quitAnsweredYesEndsTheProgram() {
    Fixture f;
    QSignalSpy terminate(f.window.get(), &TFCOMM::terminateRequested);
    f.dialogs->answer = Dialogs::Answer::Yes;
    QTest::mouseClick(f.child<QPushButton>("BitBtn1"), Qt::LeftButton);
    QCOMPARE(terminate.count(), 1);
}

void MainWindowTest::portSelectorStepsThroughFourPorts() {
    Fixture f;
    f.window->show();
    const char* names[] = {"BtCOM1", "BtCOM2", "BtCOM3", "BtCOM4"};
    const TComPortNumber after[] = {pnCOM2, pnCOM3, pnCOM4, pnCOM1};
    int visible = 0;
    for (int click = 0; click < 4; ++click) {
        QTest::mouseClick(f.child<QWidget>(names[visible]), Qt::LeftButton);
        visible = (visible + 1) % 4;
        QCOMPARE(f.window->COMM2().ComPort(), after[click]);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(f.child<QWidget>(names[i])->isVisible(), i == visible);
    }
}

void MainWindowTest::selectorIgnoresClicksWhileConnected() {
    Fixture f;
    f.window->show();
    f.connectSerial();
    QCOMPARE(f.COMCon()->text(), QStringLiteral("COM Disconnect"));
    QVERIFY(!f.child<QWidget>("USBCon")->isVisible());
    QTest::mouseClick(f.child<QWidget>("BtCOM1"), Qt::LeftButton);
    QCOMPARE(f.window->COMM2().ComPort(), pnCOM1);
    QVERIFY(f.child<QWidget>("BtCOM1")->isVisible());

    f.connectSerial();
    QCOMPARE(f.COMCon()->text(), QStringLiteral("COM Connection"));
    QVERIFY(f.child<QWidget>("USBCon")->isVisible());
    QVERIFY(!f.window->COMM2().IsOpen());
    QTest::mouseClick(f.child<QWidget>("BtCOM1"), Qt::LeftButton);
    QCOMPARE(f.window->COMM2().ComPort(), pnCOM2);
}

void MainWindowTest::selectorHintNamesTheDeviceBehindThePort() {
    Fixture f;
    QCOMPARE(f.window->connection().portHint(0), QStringLiteral("COM 1: %1").arg(f.pty.slavePath()));
    QCOMPARE(f.window->connection().portHint(1), QStringLiteral("COM 2: no such serial port on this machine"));
    // Ports come and go: the hint is asked for each time it is shown.
    f.ports->setDevice(2, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(f.window->connection().portHint(1), QStringLiteral("COM 2: /dev/ttyUSB0"));
}

void MainWindowTest::meterOnCom1ShowsLive() {
    Fixture f;
    QVERIFY(f.pty.isValid());
    int scaleChanges = 0;
    f.window->ShowSeries = [&scaleChanges](int) { ++scaleChanges; };
    f.connectSerial();
    QVERIFY(f.window->COMM2().IsOpen());

    QVERIFY(f.pty.writeToMaster("\n" + frame("399991101")));
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText), QStringLiteral("3.9999"));
    f.checkShowsThreeVoltsNinetyNineNinetyNine();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(f.lampLit()->isVisibleTo(f.window.get()));
    QVERIFY(!f.lampDark()->isVisibleTo(f.window.get()));
    QCOMPARE(scaleChanges, 1);
    QCOMPARE(QString::fromStdString(f.window->lastSample().JudgeText), QStringLiteral("pass"));
    QCOMPARE(f.child<QLabel>("judge")->text(), QStringLiteral("Pass"));

    // Negative k-ohm reading, then an overload: the bar pins at its maximum.
    QVERIFY(f.pty.writeToMaster(frame("123453401") + frame("A00001101")));
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText), QStringLiteral(".0L"));
    QCOMPARE(f.window->currentReading().NumericValue, 40000.0);
    QCOMPARE(f.child<QProgressBar>("PBar2")->value(), 40);
    QCOMPARE(scaleChanges, 3);
    QCOMPARE(QString::fromStdString(f.window->lastSample().JudgeText), QStringLiteral("Fail"));
    QCOMPARE(f.child<QLabel>("judge")->text(), QStringLiteral("Fail"));
}

void MainWindowTest::lampGoesDarkOnThirdTick() {
    Fixture f;
    f.connectSerial();
    QVERIFY(f.pty.writeToMaster("\n" + frame("399991101")));
    QTRY_VERIFY(f.lampLit()->isVisibleTo(f.window.get()));
    for (int tick = 1; tick <= 3; ++tick) {
        f.window->ConTimerTimer();
        const bool dark = f.lampDark()->isVisibleTo(f.window.get());
        QCOMPARE(dark, tick == 3);
        QCOMPARE(f.lampLit()->isVisibleTo(f.window.get()), !dark);
    }
    QCOMPARE(f.window->connection().LinkAliveTicks(), 0);
}

void MainWindowTest::rejectedFrameShowsOneErrorAndBadStreamDoesNotStack() {
    Fixture f;
    f.connectSerial();
    const QByteArray bad = frame("39999B101"); // range digit B
    // While the first box is open, more bad frames keep arriving.
    f.dialogs->whileErrorOpen = [&f, &bad] {
        for (int i = 0; i < 20; ++i)
            QVERIFY(f.pty.writeToMaster(bad));
        FakeDialogs::keepOpenFor(400);
    };
    QVERIFY(f.pty.writeToMaster("\n" + bad));
    QTRY_COMPARE(f.dialogs->errors.size(), 1);
    QCOMPARE(f.dialogs->errors.first(), QStringLiteral("'B' is not a valid integer value"));
    QCOMPARE(f.dialogs->maxOpenBoxes, 1);
    // The rejected frame still lit the lamp and showed its digits.
    QVERIFY(f.lampLit()->isVisibleTo(f.window.get()));
    QCOMPARE(f.digits(), QByteArray("39999"));

    // Good frames decode as before. (The rejection dropped the rest of its
    // buffer, the line feed that opens the next frame with it.)
    f.dialogs->whileErrorOpen = nullptr;
    QVERIFY(f.pty.writeToMaster("\n" + frame("123452101")));
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText),
                 QStringLiteral("12.345"));
    QCOMPARE(f.dialogs->errors.size(), 1);
}

// The same error comes back 5 seconds after its box closed, or with a frame
// accepted 2 seconds or more after it closed; not before. Each bad frame carries
// other digits, so the replica shows that it was decoded. A rejection drops
// the rest of its buffer, so the next frame starts with its own line feed.
void MainWindowTest::sameErrorReturnsAfterAnAcceptedFrameOrFiveSeconds() {
    Fixture f;
    f.connectSerial();
    const auto sendBad = [&f](const char* digits) {
        return f.pty.writeToMaster("\n" + frame(QByteArray(digits) + "B101"));
    };
    QVERIFY(sendBad("11111"));
    QTRY_COMPARE(f.dialogs->errors.size(), 1); // closed at once by the fake

    QVERIFY(sendBad("22222"));
    QTRY_COMPARE(f.digits(), QByteArray("22222"));
    f.steadyClock->advance(4999);
    QVERIFY(sendBad("33333"));
    QTRY_COMPARE(f.digits(), QByteArray("33333"));
    QCOMPARE(f.dialogs->errors.size(), 1);

    f.steadyClock->advance(1);
    QVERIFY(sendBad("44444"));
    QTRY_COMPARE(f.dialogs->errors.size(), 2);

    QVERIFY(sendBad("55555"));
    QTRY_COMPARE(f.digits(), QByteArray("55555"));
    QCOMPARE(f.dialogs->errors.size(), 2);
    // A good frame right after the box closed does not bring it back yet: a
    // poor cable mixing good and bad frames must not lock the user out.
    QVERIFY(f.pty.writeToMaster("\n" + frame("123452101")));
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText),
                 QStringLiteral("12.345"));
    QVERIFY(f.pty.writeToMaster(frame("66666B101")));
    QTRY_COMPARE(f.digits(), QByteArray("66666"));
    QCOMPARE(f.dialogs->errors.size(), 2);
    f.steadyClock->advance(2000);
    QVERIFY(f.pty.writeToMaster("\n" + frame("123452101")));
    QTRY_COMPARE(f.digits(), QByteArray("12345"));
    QVERIFY(f.pty.writeToMaster(frame("77777B101")));
    QTRY_COMPARE(f.dialogs->errors.size(), 3);
    QCOMPARE(f.dialogs->maxOpenBoxes, 1);
}

// A meter that sends nothing but rejected frames, 20 a second, to a user who
// reads each box for a tenth of a second: one box, then the window is free
// and "COM Disconnect" closes the port.
void MainWindowTest::meterSendingOnlyRejectedFramesLeavesDisconnectReachable() {
    Fixture f;
    f.window->show();
    f.connectSerial();
    QVERIFY(f.window->COMM2().IsOpen());
    f.dialogs->whileErrorOpen = [] { FakeDialogs::keepOpenFor(100); };
    int sent = 0;
    QTimer meter;
    QObject::connect(&meter, &QTimer::timeout, [&f, &sent] {
        const QByteArray digits = QByteArray::number(10000 + (sent++ % 90000));
        QVERIFY(f.pty.writeToMaster("\n" + frame(digits + "B101")));
    });
    meter.start(50);
    QTRY_COMPARE(f.dialogs->errors.size(), 1);
    // A second of the stream after the box closed, every frame decoded.
    QTRY_VERIFY(sent >= 25 && f.dialogs->openBoxes == 0);
    const QByteArray shownNow = f.digits();
    QTRY_VERIFY(f.digits() != shownNow);
    QCOMPARE(f.dialogs->errors.size(), 1);

    QTest::mouseClick(f.COMCon(), Qt::LeftButton);
    QVERIFY(!f.window->COMM2().IsOpen());
    QCOMPARE(f.COMCon()->text(), QStringLiteral("COM Connection"));
    meter.stop();
}

void MainWindowTest::noiseAndLostBytesNeverStopTheStream() {
    Fixture f;
    f.connectSerial();
    QByteArray noise(4096, 0);
    QRandomGenerator rng(45);
    for (char& c : noise)
        c = char(rng.bounded(256));
    QByteArray lost = frame("399991101");
    lost.remove(3, 1);
    QVERIFY(f.pty.writeToMaster(noise + lost + frame("222221101") + frame("123452101")));
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText), QStringLiteral("12.345"));
    QCOMPARE(f.child<QProgressBar>("PBar2")->value(), 12);
}

void MainWindowTest::failedConnectStaysIdleAndSaysWhy_data() {
    QTest::addColumn<QString>("cause");
    QTest::newRow("no such COM number") << "unmapped";
    QTest::newRow("device node gone") << "missing";
    QTest::newRow("in use by a live process") << "locked";
    QTest::newRow("kernel console") << "console";
    QTest::newRow("this machine's console on its COM 1") << "machine console";
    QTest::newRow("no permission") << "forbidden";
}

void MainWindowTest::failedConnectStaysIdleAndSaysWhy() {
    QFETCH(QString, cause);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    LinuxSerialPlatform::Paths paths;
    paths.lockDirs = {scratch.path()};
    paths.sysfsTtyRoot = scratch.filePath(QStringLiteral("sys"));
    FakeSerialPlatform::State fake;
    std::unique_ptr<SerialPlatform> platform;
    const QString machineCom1 = LinuxSerialPortDirectory().devicePathFor(1);
    if (cause == QLatin1String("machine console")) {
        // Refused before anything is opened; asked only where COM 1 is the console.
        if (machineCom1.isEmpty() ||
            !LinuxSerialPlatform().consoleNames().contains(QFileInfo(machineCom1).fileName()))
            QSKIP("COM 1 of this machine is not its console");
        platform = std::make_unique<LinuxSerialPlatform>();
    } else if (cause == QLatin1String("forbidden")) {
        fake.openResult = SerialPlatform::InvalidHandle;
        fake.openFailure.reason = SerialOpenError::NoPermission;
        fake.openFailure.errorCode = EACCES;
        platform = std::make_unique<FakeSerialPlatform>(fake);
    } else {
        platform = std::make_unique<LinuxSerialPlatform>(paths);
    }
    Fixture f(QStringLiteral("."), std::move(platform));
    QVERIFY(f.pty.isValid());
    f.window->show();
    const QString pty = f.pty.slavePath();
    const QString head = QStringLiteral("COM 1 (%1) cannot be opened: ").arg(pty);
    QString expected;
    if (cause == QLatin1String("unmapped")) {
        QTest::mouseClick(f.child<QWidget>("BtCOM1"), Qt::LeftButton); // COM 2: not mapped
        expected = QStringLiteral("COM 2 cannot be opened: there is no COM 2 on this machine.");
    } else if (cause == QLatin1String("missing")) {
        const QString gone = scratch.filePath(QStringLiteral("ttyUSB9"));
        f.ports->setDevice(1, gone);
        expected =
            QStringLiteral("COM 1 (%1) cannot be opened: the device does not exist. If it is "
                           "a USB adapter, check that it is plugged in.")
                .arg(gone);
    } else if (cause == QLatin1String("locked")) {
        QFile lock(
            QDir(scratch.path()).filePath(QStringLiteral("LCK..") + pty.mid(5).replace('/', '_')));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(qint64(::getppid())).rightJustified(10, ' ') + '\n');
        lock.close();
        QFile comm(QStringLiteral("/proc/%1/comm").arg(::getppid()));
        QVERIFY(comm.open(QIODevice::ReadOnly));
        expected =
            head + QStringLiteral("it is in use by another program (process %1, %2). Close that "
                                  "program and try again.")
                       .arg(::getppid())
                       .arg(QString::fromLocal8Bit(comm.readAll()).trimmed());
    } else if (cause == QLatin1String("console")) {
        QVERIFY(QDir().mkpath(scratch.filePath(QStringLiteral("sys/console"))));
        QFile active(scratch.filePath(QStringLiteral("sys/console/active")));
        QVERIFY(active.open(QIODevice::WriteOnly));
        active.write(pty.mid(5).toUtf8() + '\n');
        active.close();
        expected = head + QStringLiteral("it is the system console. Choose another port.");
    } else if (cause == QLatin1String("machine console")) {
        f.ports->setDevice(1, machineCom1);
        expected = QStringLiteral("COM 1 (%1) cannot be opened: it is the system console. Choose "
                                  "another port.")
                       .arg(machineCom1);
    } else {
        expected = QStringLiteral(
            "COM 1 (/dev/fake) cannot be opened: you have no permission to use it.\n\n"
            "Serial ports belong to the group dialout. Add your user to it:\n\n"
            "    sudo usermod -aG dialout $USER\n\n"
            "then log out and log in again for it to take effect.");
        f.ports->setDevice(1, QStringLiteral("/dev/fake"));
    }

    f.connectSerial();
    QTRY_COMPARE(f.dialogs->errors, QStringList{expected});
    f.checkSerialIdle(QStringLiteral("COM Connect"));
    QCOMPARE(f.dialogs->informations, QStringList{});
    QCOMPARE(f.pty.exclusiveFlag(), 0); // the pty was never taken
}

void MainWindowTest::unpluggedPortEndsTheConnectionWithOneMessage() {
    Fixture f;
    QVERIFY(f.pty.isValid());
    f.window->show();
    f.connectSerial();
    QVERIFY(f.pty.writeToMaster("\n" + frame("399991101")));
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText),
                 QStringLiteral("3.9999"));
    QCOMPARE(f.COMCon()->text(), QStringLiteral("COM Disconnect"));
    QVERIFY(f.dialogs->errors.isEmpty());

    f.pty.closeMaster();
    const QString expected =
        QStringLiteral(
            "COM 1 (%1) has gone: the serial port was disconnected. The connection is closed.")
            .arg(f.pty.slavePath());
    QTRY_COMPARE(f.dialogs->errors, QStringList{expected});
    f.checkSerialIdle(QStringLiteral("COM Connection"));
    QCOMPARE(QString::fromStdString(f.window->currentReading().ValueText),
             QStringLiteral("3.9999"));
    // The driver stopped polling the port it closed: more polls report nothing more.
    QVERIFY(!f.window->COMM2().findChild<QTimer*>()->isActive());
    for (int i = 0; i < 5; ++i)
        f.window->COMM2().PollReceive();
    QCoreApplication::processEvents();
    QCOMPARE(f.dialogs->errors.size(), 1);
}

void MainWindowTest::exceptionInTheUsbFrameHandlerShowsOneErrorAndReadingGoesOn() {
    Fixture f;
    const int cable = f.hid->add(qm45::test::FakeHidPlatform::cable());
    // A cable input report: report ID, a status byte counting the meter bytes, the bytes.
    const auto send = [&](const char* payload) {
        const QByteArray bytes = frame(payload);
        for (qsizetype at = 0; at < bytes.size(); at += 7) {
            const QByteArray part = bytes.mid(at, 7);
            f.hid->pushReport(cable, QByteArray(1, 0) + char(0xF0 | part.size()) + part);
        }
        f.hid->pushReport(cable, QByteArray::fromHex("00f0"));
    };
    QTest::mouseClick(f.child<QPushButton>("USBCon"), Qt::LeftButton);
    QCOMPARE(f.child<QPushButton>("USBCon")->text(), QStringLiteral("USB Disconnect"));

    // The first decoded frame switches the chart series, and that step fails.
    bool thrown = false;
    f.window->ShowSeries = [&thrown](int) {
        if (!std::exchange(thrown, true))
            throw std::runtime_error("the chart cannot switch its series");
    };
    send("399991101");
    QTRY_COMPARE(f.dialogs->errors, QStringList{"the chart cannot switch its series"});
    QVERIFY(thrown);

    // The reader was released: the next frame is decoded as usual.
    send("123452101");
    QTRY_COMPARE(QString::fromStdString(f.window->currentReading().ValueText),
                 QStringLiteral("12.345"));
    QCOMPARE(f.dialogs->errors.size(), 1);
    QVERIFY(f.child<QPushButton>("USBCon")->isChecked());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
