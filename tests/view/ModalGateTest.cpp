#include "view/ModalGate.h"
#include "record/GatedPrinterDialogs.h"
#include "view/GatedDialogs.h"

#include "../support/FakeDialogs.h"

#include <QPrinter>
#include <QtTest>

#include <functional>
#include <memory>

using namespace qm45;

namespace {

// Printer dialogs that run a callback while "open".
class OpenPrinterDialogs final : public PrinterDialogs {
public:
    bool setup(QWidget*, QPrinter&) override {
        whileOpen();
        return true;
    }
    bool print(QWidget*, QPrinter&, int) override {
        whileOpen();
        return true;
    }
    std::function<void()> whileOpen;
};

struct Gated {
    Gated() : dialogs(gate, fake) {}
    ModalGate gate;
    std::shared_ptr<FakeDialogs> fake = std::make_shared<FakeDialogs>();
    GatedDialogs dialogs;
};

} // namespace

class ModalGateTest : public QObject {
    Q_OBJECT
private slots:
    void noticesOpenFromTheEventLoopNotInsideTheCaller();
    void noticesWaitForWhatIsOpenAndKeepTheirOrder_data();
    void noticesWaitForWhatIsOpenAndKeepTheirOrder();
    void questionsAndFileDialogsAnswerAtOnce();
};

void ModalGateTest::noticesOpenFromTheEventLoopNotInsideTheCaller() {
    Gated g;
    g.dialogs.information(nullptr, QStringLiteral("saved"));
    g.dialogs.error(nullptr, QStringLiteral("failed"), QStringLiteral("Error"));
    // Still inside the caller: nothing has opened yet.
    QVERIFY(g.fake->log.isEmpty());
    QCOMPARE(g.gate.pending(), std::size_t(2));
    QTRY_COMPARE(g.fake->log, (QStringList{"information: saved", "error: failed"}));
    QCOMPARE(g.fake->errorTitles, QStringList{"Error"});
    QCOMPARE(g.fake->maxOpenBoxes, 1);
    QCOMPARE(g.gate.pending(), std::size_t(0));
    QVERIFY(!g.gate.isOpen());
}

// Whatever of ours is open, notices asked for meanwhile open after it has
// closed, in order, one at a time. The event loop keeps running meanwhile.
void ModalGateTest::noticesWaitForWhatIsOpenAndKeepTheirOrder_data() {
    QTest::addColumn<QString>("opener");
    QTest::addColumn<QString>("logged"); // what the fake logs for it; empty: not one of its boxes
    QTest::newRow("question") << "question"
                              << "question: Quit?";
    QTest::newRow("save dialog") << "saveFile"
                                 << "saveFile: Save As";
    QTest::newRow("open dialog") << "openFile"
                                 << "openFile: Open";
    QTest::newRow("notice") << "notice"
                            << "information: first";
    QTest::newRow("printer setup") << "setup"
                                   << "";
    QTest::newRow("print dialog") << "print"
                                  << "";
    QTest::newRow("printing") << "printing"
                              << "";
}

void ModalGateTest::noticesWaitForWhatIsOpenAndKeepTheirOrder() {
    QFETCH(QString, opener);
    QFETCH(QString, logged);
    Gated g;
    auto printers = std::make_shared<OpenPrinterDialogs>();
    GatedPrinterDialogs gatedPrinters(g.gate, printers);

    QStringList seenWhileOpen;
    bool ranEventLoop = false;
    const auto whileOpen = [&] {
        g.dialogs.information(nullptr, QStringLiteral("saved"));
        g.dialogs.error(nullptr, QStringLiteral("failed"));
        // Timers go on while the box is open, the notices wait.
        QTimer::singleShot(0, [&ranEventLoop] { ranEventLoop = true; });
        QTRY_VERIFY(ranEventLoop);
        FakeDialogs::keepOpenFor(20);
        seenWhileOpen = g.fake->log;
        QCOMPARE(g.gate.pending(), std::size_t(2));
    };
    g.fake->whileOpen = [&](const QString& kind, const QString& text) {
        if (kind == opener || (opener == "notice" && text == "first"))
            whileOpen();
    };
    printers->whileOpen = whileOpen;

    QPrinter printer;
    if (opener == "question")
        QCOMPARE(g.dialogs.question(nullptr, QStringLiteral("Quit?")), Dialogs::Answer::No);
    else if (opener == "saveFile")
        g.dialogs.saveFile(nullptr, {QStringLiteral("Save As"), {}, {}, {}, {}});
    else if (opener == "openFile")
        g.dialogs.openFile(nullptr, {QStringLiteral("Open"), {}, {}, {}, {}});
    else if (opener == "notice")
        g.dialogs.information(nullptr, QStringLiteral("first"));
    else if (opener == "setup")
        QVERIFY(gatedPrinters.setup(nullptr, printer));
    else if (opener == "print")
        QVERIFY(gatedPrinters.print(nullptr, printer, 1));
    else {
        const std::shared_ptr<void> printing = gatedPrinters.holdWhilePrinting();
        QVERIFY(g.gate.isOpen());
        whileOpen();
    }

    QStringList expected;
    if (!logged.isEmpty())
        expected << logged;
    QTRY_VERIFY(ranEventLoop);
    QCOMPARE(seenWhileOpen, expected);
    expected << "information: saved"
             << "error: failed";
    QTRY_COMPARE(g.fake->log, expected);
    QCOMPARE(g.fake->maxOpenBoxes, 1);
    QVERIFY(!g.gate.isOpen());
}

void ModalGateTest::questionsAndFileDialogsAnswerAtOnce() {
    Gated g;
    g.fake->answer = Dialogs::Answer::Yes;
    g.fake->nextFile = {QStringLiteral("/tmp/readings.xls"), 1};
    QCOMPARE(g.dialogs.question(nullptr, QStringLiteral("Are you sure to delete the data?")),
             Dialogs::Answer::Yes);
    const Dialogs::FileChoice saved =
        g.dialogs.saveFile(nullptr, {QStringLiteral("Save As"), {}, {}, {}, {}});
    QCOMPARE(saved.path, QStringLiteral("/tmp/readings.xls"));
    QCOMPARE(saved.filterIndex, 1);
    QCOMPARE(g.dialogs.openFile(nullptr, {QStringLiteral("Open"), {}, {}, {}, {}}).path,
             QStringLiteral("/tmp/readings.xls"));
    QCOMPARE(g.fake->log.size(), 3);
    QVERIFY(!g.gate.isOpen());
}

QTEST_MAIN(ModalGateTest)
#include "ModalGateTest.moc"
