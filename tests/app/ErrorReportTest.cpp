#include "app/ErrorReport.h"
#include "view/GatedDialogs.h"
#include "view/ModalGate.h"

#include "../support/FakeDialogs.h"
#include "../support/FakeSteadyClock.h"

#include <QtTest>

#include <memory>

using namespace qm45;
using qm45::test::FakeSteadyClock;

namespace {

const QString kFrame = QStringLiteral("'B' is not a valid integer value");

struct Report {
    Report() : dialogs(gate, fake), report(dialogs, clock, nullptr) {}
    ModalGate gate;
    std::shared_ptr<FakeDialogs> fake = std::make_shared<FakeDialogs>();
    GatedDialogs dialogs;
    FakeSteadyClock clock;
    ErrorReport report;
};

} // namespace

class ErrorReportTest : public QObject {
    Q_OBJECT
private slots:
    void everyDifferentFailureIsShownInOrderAfterTheOpenBox();
    void sameTextComesBackAfterFiveSecondsOrAFrameTwoSecondsFromClosing_data();
    void sameTextComesBackAfterFiveSecondsOrAFrameTwoSecondsFromClosing();
};

void ErrorReportTest::everyDifferentFailureIsShownInOrderAfterTheOpenBox() {
    Report r;
    const QString saveFailed = QStringLiteral("Cannot create file /missing/readings.xml");
    bool first = true;
    r.fake->whileErrorOpen = [&] {
        if (!first)
            return;
        first = false;
        r.report.report(kFrame); // the one on screen: dropped
        r.report.report(saveFailed);
        r.report.report(QStringLiteral("Out of memory."));
        r.report.report(saveFailed); // already waiting: not twice
        FakeDialogs::keepOpenFor(20);
        QCOMPARE(r.fake->errors, QStringList{kFrame});
        QVERIFY(r.report.isShowing());
    };
    r.report.report(kFrame);
    QTRY_COMPARE(r.fake->errors, (QStringList{kFrame, saveFailed, "Out of memory."}));
    QCOMPARE(r.fake->maxOpenBoxes, 1);
    QTRY_VERIFY(!r.report.isShowing());
}

// The same text reported again: when is it shown a second time? A different
// text reported after it shows that the queue has been worked through (it
// would come second if the repeat had been queued).
void ErrorReportTest::sameTextComesBackAfterFiveSecondsOrAFrameTwoSecondsFromClosing_data() {
    QTest::addColumn<int>("openForMs"); // how long the first box stays open
    QTest::addColumn<bool>("frameWhileOpen");
    QTest::addColumn<int>("afterCloseMs");
    QTest::addColumn<bool>("frameAfterClose");
    QTest::addColumn<bool>("shownAgain");
    QTest::newRow("at once") << 0 << false << 0 << false << false;
    QTest::newRow("4999 ms after closing") << 0 << false << 4999 << false << false;
    QTest::newRow("5000 ms after closing") << 0 << false << 5000 << false << true;
    QTest::newRow("box open 6 s, at once after closing") << 6000 << false << 0 << false << false;
    QTest::newRow("box open 6 s, 5 s after closing") << 6000 << false << 5000 << false << true;
    QTest::newRow("frame accepted at once after closing") << 0 << false << 0 << true << false;
    QTest::newRow("frame accepted 1999 ms after closing") << 0 << false << 1999 << true << false;
    QTest::newRow("frame accepted 2000 ms after closing") << 0 << false << 2000 << true << true;
    QTest::newRow("frame accepted only while open") << 0 << true << 0 << false << false;
}

void ErrorReportTest::sameTextComesBackAfterFiveSecondsOrAFrameTwoSecondsFromClosing() {
    QFETCH(int, openForMs);
    QFETCH(bool, frameWhileOpen);
    QFETCH(int, afterCloseMs);
    QFETCH(bool, frameAfterClose);
    QFETCH(bool, shownAgain);
    Report r;
    r.fake->whileErrorOpen = [&] {
        if (r.fake->errors.size() != 1)
            return;
        r.clock.advance(openForMs);
        if (frameWhileOpen)
            r.report.frameAccepted();
    };
    r.report.report(kFrame);
    QTRY_COMPARE(r.fake->errors.size(), 1);
    QTRY_VERIFY(!r.report.isShowing());

    r.clock.advance(afterCloseMs);
    if (frameAfterClose)
        r.report.frameAccepted();
    r.report.report(kFrame);
    r.report.report(QStringLiteral("marker"));
    QStringList expected{kFrame};
    if (shownAgain)
        expected << kFrame;
    expected << QStringLiteral("marker");
    QTRY_COMPARE(r.fake->errors, expected);
}

QTEST_MAIN(ErrorReportTest)
#include "ErrorReportTest.moc"
