#include "app/ErrorReport.h"
#include "app/TFCOMM.h"
#include "link/SerialPortDriver.h"
#include "record/DataFileActions.h"
#include "record/PrintPreview.h"
#include "record/PrinterDialogs.h"
#include "record/ReportActions.h"
#include "view/LcdPanel.h"
#include "view/ModalGate.h"

#include "../link/PseudoTerminal.h"
#include "WindowFixture.h"

#include <QAction>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

using namespace qm45;
using qm45::test::frame;
using qm45::test::PseudoTerminal;
using qm45::test::WindowFixture;

namespace {

const QString kFrameError = QStringLiteral("'B' is not a valid integer value");

// Printer dialogs that run a callback while "open" and then cancel.
class OpenPrinterDialogs final : public PrinterDialogs {
public:
    bool setup(QWidget*, QPrinter&) override {
        whileOpen();
        return false;
    }
    bool print(QWidget*, QPrinter&, int) override {
        whileOpen();
        return false;
    }
    std::function<void()> whileOpen = [] {};
};

struct Fixture : WindowFixture {
    Fixture() {
        printerDialogs = printers;
        if (pty.isValid())
            ports->setDevice(1, pty.slavePath());
        open();
        window->show();
    }

    template <typename T> void click(const char* name) const {
        QTest::mouseClick(child<T>(name), Qt::LeftButton);
    }
    QByteArray digits() const {
        const auto& d = child<LcdPanel>("Panel1")->state().digits;
        return QByteArray(d.data(), int(d.size()));
    }
    // A rejected frame reaches the window and is decoded; its error box
    // does not open meanwhile, as something of ours is open.
    void rejectedFrameWhileOpen() {
        QVERIFY(pty.writeToMaster("\n" + frame("12121B101")));
        QTRY_COMPARE(digits(), QByteArray("12121"));
        QCOMPARE(window->modalGate().pending(), std::size_t(1));
        FakeDialogs::keepOpenFor(50);
        QVERIFY(dialogs->errors.isEmpty());
    }

    std::shared_ptr<OpenPrinterDialogs> printers = std::make_shared<OpenPrinterDialogs>();
    PseudoTerminal pty;
};

} // namespace

class ModalBoxesTest : public QObject {
    Q_OBJECT
private slots:
    void frameErrorWaitsForTheBoxOrDialogThatIsOpen_data();
    void frameErrorWaitsForTheBoxOrDialogThatIsOpen();
    void fileResultsWaitBehindAFrameErrorAndAreAllShown_data();
    void fileResultsWaitBehindAFrameErrorAndAreAllShown();
    void lostPortMessageWaitsForTheQuitQuestion();
};

// Bad frames keep arriving while the user answers a question or works in a
// file or printer dialog: the error box opens after it has closed.
void ModalBoxesTest::frameErrorWaitsForTheBoxOrDialogThatIsOpen_data() {
    QTest::addColumn<QString>("opener");
    QTest::addColumn<QString>("logged"); // empty: not a box of FakeDialogs
    QTest::newRow("Quit question")
        << "quit"
        << "question: Are you sure that you want to quit this application?";
    QTest::newRow("delete question") << "delete"
                                     << "question: Are you sure to delete the data?";
    QTest::newRow("save dialog") << "save"
                                 << "saveFile: Save As";
    QTest::newRow("open dialog") << "open"
                                 << "openFile: Open";
    QTest::newRow("printer setup") << "setup"
                                   << "";
    QTest::newRow("print dialog") << "print"
                                  << "";
}

void ModalBoxesTest::frameErrorWaitsForTheBoxOrDialogThatIsOpen() {
    QFETCH(QString, opener);
    QFETCH(QString, logged);
    Fixture f;
    QVERIFY(f.pty.isValid());
    f.click<QPushButton>("COMCon");
    bool wasOpen = false;
    const auto whileOpen = [&f, &wasOpen] {
        wasOpen = true;
        f.rejectedFrameWhileOpen();
    };
    f.dialogs->whileOpen = [&whileOpen, &logged](const QString& kind, const QString& text) {
        if (kind + QStringLiteral(": ") + text == logged)
            whileOpen();
    };
    f.printers->whileOpen = whileOpen;

    if (opener == "quit") {
        f.click<QPushButton>("BitBtn1");
    } else if (opener == "delete") {
        f.click<QToolButton>("RecordNew");
    } else if (opener == "save") {
        f.click<QToolButton>("saveas");
    } else if (opener == "open") {
        f.click<QToolButton>("OpenDataFiles");
    } else {
        f.click<QToolButton>("BtPrint");
        PrintPreview* preview = f.window->report().preview();
        QVERIFY(preview);
        preview
            ->findChild<QAction*>(opener == "setup" ? QStringLiteral("printerSetup")
                                                    : QStringLiteral("print"))
            ->trigger();
        preview->close();
    }
    QVERIFY(wasOpen);
    QTRY_COMPARE(f.dialogs->errors, QStringList{kFrameError});
    if (!logged.isEmpty())
        QCOMPARE(f.dialogs->log, (QStringList{logged, "error: " + kFrameError}));
    QCOMPARE(f.dialogs->maxOpenBoxes, 1);
}

// A save or load ends while a frame error is on screen: its result is shown
// after the frame error, never dropped, never on top of it.
void ModalBoxesTest::fileResultsWaitBehindAFrameErrorAndAreAllShown_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("file");  // in a scratch folder
    QTest::addColumn<QString>("shown"); // kind and text; %1 the file's path
    QTest::newRow("XML save fails") << "save"
                                    << "missing/readings.xml"
                                    << "error: %1";
    QTest::newRow("text save fails") << "save"
                                     << "missing/readings.txt"
                                     << "error: Could not save table to specified file: %1";
    QTest::newRow("text save succeeds") << "save"
                                        << "readings.txt"
                                        << "information: save table to specified file: %1 Scuss!";
    QTest::newRow("load fails") << "load"
                                << "missing.txt"
                                << "error: Failed to Load File!";
}

void ModalBoxesTest::fileResultsWaitBehindAFrameErrorAndAreAllShown() {
    QFETCH(QString, action);
    QFETCH(QString, file);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(file);
    Fixture f;
    f.dialogs->nextFile = {path, 1};
    // The frame error is on screen while the file job finishes.
    f.dialogs->whileErrorOpen = [&f] {
        if (f.dialogs->errors.size() == 1)
            QTRY_VERIFY(!f.window->dataFiles().busy());
    };
    f.window->errorReport().report(kFrameError);
    if (action == "save")
        f.window->dataFiles().saveasClick();
    else
        f.window->dataFiles().SpeedButton2Click();

    QTRY_COMPARE(f.dialogs->log.size(), 3);
    QCOMPARE(f.dialogs->log.at(1), "error: " + kFrameError);
    const QString result = f.dialogs->log.at(2);
    if (shown == "error: %1")
        QVERIFY2(result.startsWith("error: ") && result.contains(path), qPrintable(result));
    else
        QCOMPARE(result, shown.arg(path));
    QCOMPARE(f.dialogs->maxOpenBoxes, 1);
}

// The adapter is pulled out while the Quit question is open: the port is
// closed at once, its message waits until the question has been answered.
void ModalBoxesTest::lostPortMessageWaitsForTheQuitQuestion() {
    Fixture f;
    QVERIFY(f.pty.isValid());
    f.click<QPushButton>("COMCon");
    QVERIFY(f.window->COMM2().IsOpen());
    bool wasOpen = false;
    f.dialogs->answer = Dialogs::Answer::No;
    f.dialogs->whileOpen = [&f, &wasOpen](const QString& kind, const QString&) {
        if (kind != QStringLiteral("question"))
            return;
        wasOpen = true;
        f.pty.closeMaster();
        QTRY_VERIFY(!f.window->COMM2().IsOpen());
        QTRY_COMPARE(f.child<QPushButton>("COMCon")->text(), QStringLiteral("COM Connection"));
        QCOMPARE(f.window->modalGate().pending(), std::size_t(1));
        QVERIFY(f.dialogs->errors.isEmpty());
    };
    f.click<QPushButton>("BitBtn1");
    QVERIFY(wasOpen);
    QTRY_COMPARE(f.dialogs->errors.size(), 1);
    QVERIFY2(f.dialogs->errors.first().contains(QStringLiteral("has gone")),
             qPrintable(f.dialogs->errors.first()));
    QCOMPARE(f.dialogs->log.first(),
             QStringLiteral("question: Are you sure that you want to quit this application?"));
    QCOMPARE(f.dialogs->maxOpenBoxes, 1);
}

QTEST_MAIN(ModalBoxesTest)
#include "ModalBoxesTest.moc"
