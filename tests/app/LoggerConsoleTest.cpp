#include "app/LoggerConsole.h"

#include <QByteArray>
#include <QStringList>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

using qm45::LoggerConsole;

namespace {

// Everything written to a memory file.
QByteArray contents(int fd) {
    QByteArray all;
    char buffer[4096];
    ssize_t n = 0;
    off_t at = 0;
    while ((n = ::pread(fd, buffer, sizeof buffer, at)) > 0) {
        all.append(buffer, qsizetype(n));
        at += n;
    }
    return all;
}

// "s:text" status, "w:text" warning, "e:text" error, "n:text" note, "f" finish.
void play(LoggerConsole& console, const QStringList& steps) {
    for (const QString& step : steps) {
        const std::string text = step.mid(2).toStdString();
        switch (step.at(0).toLatin1()) {
        case 's':
            console.status(text);
            break;
        case 'w':
            console.warning(text);
            break;
        case 'e':
            console.error(text);
            break;
        case 'n':
            console.note(text);
            break;
        case 'f':
            console.finish();
            break;
        default:
            QFAIL(qPrintable("unknown step " + step));
        }
    }
}

// A terminal of a chosen width: the console writes to the slave, the test
// reads the master. Raw, so that line feeds arrive as they were written.
class Terminal {
public:
    explicit Terminal(unsigned short columns) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        const char* name = ::ptsname(master_);
        if (!name)
            return;
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0)
            return;
        termios raw{};
        ::tcgetattr(slave_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave_, TCSANOW, &raw);
        winsize size{};
        size.ws_col = columns;
        size.ws_row = 24;
        ::ioctl(master_, TIOCSWINSZ, &size);
    }
    ~Terminal() {
        for (const int fd : {slave_, master_})
            if (fd >= 0)
                ::close(fd);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    [[nodiscard]] bool isValid() const { return slave_ >= 0; }
    [[nodiscard]] int slave() const { return slave_; }

    // What has arrived, waiting until `bytes` have come (or a second passed).
    QByteArray read(qsizetype bytes) {
        QByteArray out;
        while (out.size() < bytes) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            out.append(buffer, qsizetype(n));
        }
        return out;
    }

private:
    int master_ = -1;
    int slave_ = -1;
};

} // namespace

class LoggerConsoleTest : public QObject {
    Q_OBJECT

private slots:
    void linesAndStatus_data();
    void linesAndStatus();
    void statusIsCutToTheTerminalsWidth_data();
    void statusIsCutToTheTerminalsWidth();
};

void LoggerConsoleTest::linesAndStatus_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("not a terminal: messages only")
        << false << QStringList{"w:low battery", "s:1.0 V | 1 rows", "e:disk full", "n:plain", "f"}
        << QByteArray("qm45-log: warning: low battery\nqm45-log: error: disk full\nplain\n");
    QTest::newRow("terminal without a status line yet")
        << true << QStringList{"w:first", "f"} << QByteArray("qm45-log: warning: first\n");
    QTest::newRow("terminal: messages above the status line")
        << true << QStringList{"s:one", "w:careful", "s:two", "n:back", "e:gone", "f"}
        << QByteArray("\rone\x1b[K"
                      "\r\x1b[Kqm45-log: warning: careful\none"
                      "\rtwo\x1b[K"
                      "\r\x1b[Kback\ntwo"
                      "\r\x1b[Kqm45-log: error: gone\ntwo"
                      "\n");
    QTest::newRow("terminal: after the end, plain lines")
        << true << QStringList{"s:last", "f", "w:late", "f"}
        << QByteArray("\rlast\x1b[K\nqm45-log: warning: late\n");
}

void LoggerConsoleTest::linesAndStatus() {
    QFETCH(bool, terminal);
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, written);

    const int fd = ::memfd_create("console", MFD_CLOEXEC);
    QVERIFY(fd >= 0);
    LoggerConsole console(fd, terminal);
    QCOMPARE(console.terminal(), terminal);
    play(console, steps);
    QCOMPARE(contents(fd), written);
    ::close(fd);
}

void LoggerConsoleTest::statusIsCutToTheTerminalsWidth_data() {
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("shown");

    const QString ohms = QString(30, QChar(0x03A9));
    QTest::newRow("fits") << 20 << "3.9999 V"
                          << "3.9999 V";
    QTest::newRow("one short of the width") << 20 << QString(19, 'x') << QString(19, 'x');
    QTest::newRow("as wide as the terminal") << 20 << QString(20, 'x') << QString(19, 'x');
    QTest::newRow("wider") << 20 << QString(50, 'x') << QString(19, 'x');
    QTest::newRow("two-byte characters count once") << 20 << ohms << ohms.left(19);
    QTest::newRow("three-byte characters count once")
        << 10 << QString(12, QChar(0x25BA)) << QString(9, QChar(0x25BA));
    QTest::newRow("wide terminal") << 132 << QString(131, 'y') << QString(131, 'y');
}

void LoggerConsoleTest::statusIsCutToTheTerminalsWidth() {
    QFETCH(int, columns);
    QFETCH(QString, status);
    QFETCH(QString, shown);

    Terminal terminal(static_cast<unsigned short>(columns));
    QVERIFY(terminal.isValid());
    LoggerConsole console(terminal.slave(), true);
    console.status(status.toStdString());
    const QByteArray expected = "\r" + shown.toUtf8() + "\x1b[K";
    QCOMPARE(terminal.read(expected.size()), expected);
    // A message redraws the same cut line below it.
    console.warning("w");
    const QByteArray redrawn = "\r\x1b[Kqm45-log: warning: w\n" + shown.toUtf8();
    QCOMPARE(terminal.read(redrawn.size()), redrawn);
}

QTEST_APPLESS_MAIN(LoggerConsoleTest)
#include "LoggerConsoleTest.moc"
