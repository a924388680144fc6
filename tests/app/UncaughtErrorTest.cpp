#include "app/Application.h"
#include "app/TFCOMM.h"
#include "record/ReadingsModel.h"
#include "record/Recorder.h"

#include "../link/PseudoTerminal.h"
#include "WindowFixture.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <new>
#include <stdexcept>

using namespace qm45;
using qm45::test::frame;
using qm45::test::PseudoTerminal;
using qm45::test::WindowFixture;

namespace {

enum class Failure { RuntimeError, BadAlloc, NotAnException };

[[noreturn]] void fail(Failure failure) {
    switch (failure) {
    case Failure::RuntimeError:
        throw std::runtime_error("the recorder failed");
    case Failure::BadAlloc:
        throw std::bad_alloc();
    case Failure::NotAnException:
        throw 45;
    }
    throw 0;
}

// An object whose event handler fails on the events it is told to.
class FailingObject final : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User + 1)
            fail(failure);
        if (e->type() == QEvent::User)
            ++handled;
        return QObject::event(e);
    }
    Failure failure = Failure::RuntimeError;
    int handled = 0;
};

struct Fixture : WindowFixture {
    Fixture() {
        if (pty.isValid())
            ports->setDevice(1, pty.slavePath());
        open();
        window->show();
        QTest::mouseClick(child<QPushButton>("COMCon"), Qt::LeftButton);
    }
    std::int64_t rows() const { return window->readings().table().rowCount(); }
    PseudoTerminal pty;
};

void addFailures() {
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("shown");
    QTest::newRow("std::runtime_error") << Failure::RuntimeError << "the recorder failed";
    QTest::newRow("std::bad_alloc") << Failure::BadAlloc << "Out of memory.";
    QTest::newRow("not an exception") << Failure::NotAnException << "An unknown error occurred.";
}

} // namespace

Q_DECLARE_METATYPE(Failure)

class UncaughtErrorTest : public QObject {
    Q_OBJECT
private slots:
    void eventHandlerFailureIsReportedAndTheNextEventRuns_data() { addFailures(); }
    void eventHandlerFailureIsReportedAndTheNextEventRuns();
    void guardedSlotReportsAndTheTimerGoesOn();
    void recorderFailureShowsTheErrorAndKeepsTheTable_data() { addFailures(); }
    void recorderFailureShowsTheErrorAndKeepsTheTable();
    void clickHandlerFailureEndsOnlyThatClick();
};

void UncaughtErrorTest::eventHandlerFailureIsReportedAndTheNextEventRuns() {
    QFETCH(Failure, failure);
    QFETCH(QString, shown);
    QStringList reported;
    setUncaughtErrorHandler([&reported](const QString& text) { reported << text; });
    FailingObject object;
    object.failure = failure;
    QCoreApplication::postEvent(&object, new QEvent(QEvent::Type(QEvent::User + 1)));
    QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
    QTRY_COMPARE(object.handled, 1);
    QCOMPARE(reported, QStringList{shown});
    setUncaughtErrorHandler(nullptr);
}

// A guarded slot never lets its exception out, also where no event handler
// is around it to catch it; a timer with a guarded slot goes on ticking.
void UncaughtErrorTest::guardedSlotReportsAndTheTimerGoesOn() {
    QStringList reported;
    setUncaughtErrorHandler([&reported](const QString& text) { reported << text; });
    const auto slot = guarded([](int code) { throw std::runtime_error(std::to_string(code)); });
    slot(45);
    QCOMPARE(reported, QStringList{"45"});

    reported.clear();
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, guarded([&ticks] {
        ++ticks;
        throw std::runtime_error("tick " + std::to_string(ticks));
    }));
    timer.start(5);
    QTRY_VERIFY(ticks >= 3);
    timer.stop();
    QCOMPARE(reported.mid(0, 3), (QStringList{"tick 1", "tick 2", "tick 3"}));
    setUncaughtErrorHandler(nullptr);
}

// The recorder fails on one frame (reached from the serial poll): the window
// shows its text in the error box, keeps the rows it has and records the
// next frame.
void UncaughtErrorTest::recorderFailureShowsTheErrorAndKeepsTheTable() {
    QFETCH(Failure, failure);
    QFETCH(QString, shown);
    Fixture f;
    QVERIFY(f.pty.isValid());
    QVERIFY(f.pty.writeToMaster("\n" + frame("111111101") + frame("222221101")));
    QTRY_COMPARE(f.rows(), std::int64_t(2));

    f.window->INDataToTable = [failure](const Sample&) { fail(failure); };
    QVERIFY(f.pty.writeToMaster(frame("333331101")));
    QTRY_COMPARE(f.dialogs->errors, QStringList{shown});
    QCOMPARE(f.rows(), std::int64_t(2));

    Recorder& recorder = f.window->recorder();
    f.window->INDataToTable = [&recorder](const Sample& sample) { recorder.INDataToTable(sample); };
    // The failed handler took the rest of its bytes with it, the line feed
    // that opens the next frame among them.
    QVERIFY(f.pty.writeToMaster("\n" + frame("444441101")));
    QTRY_COMPARE(f.rows(), std::int64_t(3));
    QCOMPARE(QString::fromStdString(f.window->currentReading().ValueText),
             QStringLiteral("4.4444"));
    QCOMPARE(f.dialogs->errors.size(), 1);
}

// The Quit question fails to open for lack of memory: the error is shown
// once, and the next click asks again.
void UncaughtErrorTest::clickHandlerFailureEndsOnlyThatClick() {
    Fixture f;
    f.dialogs->whileOpen = [](const QString& kind, const QString&) {
        if (kind == QStringLiteral("question"))
            throw std::bad_alloc();
    };
    QTest::mouseClick(f.child<QPushButton>("BitBtn1"), Qt::LeftButton);
    QTRY_COMPARE(f.dialogs->errors, QStringList{"Out of memory."});
    QCOMPARE(f.dialogs->openBoxes, 0);

    f.dialogs->whileOpen = nullptr;
    QTest::mouseClick(f.child<QPushButton>("BitBtn1"), Qt::LeftButton);
    QCOMPARE(f.dialogs->questions.size(), 2);
    QVERIFY(f.window->isVisible());
}

int main(int argc, char* argv[]) {
    Application app(argc, argv);
    UncaughtErrorTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "UncaughtErrorTest.moc"
