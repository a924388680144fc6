#include "app/Application.h"
#include "app/TFCOMM.h"
#include "link/LinuxSerialPlatform.h"
#include "link/SerialPortDriver.h"

#include "../link/PseudoTerminal.h"
#include "WindowFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace qm45;

namespace {
int gArgc = 1;
char gName[] = "test_termination";
char* gArgv[] = {gName, nullptr};
} // namespace

class TerminationTest : public QObject {
    Q_OBJECT
private slots:
    void terminationSignalsEndTheLoopAndFreeThePort_data();
    void terminationSignalsEndTheLoopAndFreeThePort();
};

void TerminationTest::terminationSignalsEndTheLoopAndFreeThePort_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

// Logout, shutdown or kill while connected: the program ends as after
// "Quit", the port is closed and its lock file removed.
void TerminationTest::terminationSignalsEndTheLoopAndFreeThePort() {
    QFETCH(int, signal);
    Application app(gArgc, gArgv);
    QTemporaryDir locks;
    QVERIFY(locks.isValid());
    test::PseudoTerminal pty;
    QVERIFY(pty.isValid());

    test::WindowFixture f;
    LinuxSerialPlatform::Paths paths;
    paths.lockDirs = {locks.path()};
    f.serialPlatform = std::make_unique<LinuxSerialPlatform>(paths);
    f.ports->setDevice(1, pty.slavePath());
    f.open();
    QTest::mouseClick(f.child<QPushButton>("COMCon"), Qt::LeftButton);
    QVERIFY(f.window->COMM2().IsOpen());
    const QDir dir(locks.path());
    QCOMPARE(dir.entryList(QDir::Files).size(), 1); // ours, while the port is open

    QTimer::singleShot(0, [signal] { std::raise(signal); });
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(elapsed.elapsed() < 5000);
    f.window.reset();
    QCOMPARE(dir.entryList(QDir::Files), QStringList());
}

QTEST_APPLESS_MAIN(TerminationTest)
#include "TerminationTest.moc"
