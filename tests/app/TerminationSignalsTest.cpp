#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QTest>

#include <csignal>
#include <vector>

using qm45::TerminationSignals;

class TerminationSignalsTest : public QObject {
    Q_OBJECT
private slots:
    void eachSignalArrivesFromTheEventLoop();
    void anIgnoredHangUpStaysIgnored();
};

void TerminationSignalsTest::eachSignalArrivesFromTheEventLoop() {
    TerminationSignals signals_;
    QVERIFY(signals_.active());
    std::vector<int> received;
    connect(&signals_, &TerminationSignals::received, this,
            [&received](int signal) { received.push_back(signal); });
    std::raise(SIGHUP);
    std::raise(SIGINT);
    std::raise(SIGTERM);
    // Nothing runs inside the handler: the signals wait for the event loop.
    QVERIFY(received.empty());
    QTRY_COMPARE(received, (std::vector<int>{SIGHUP, SIGINT, SIGTERM}));
}

// nohup starts a program with SIGHUP ignored so that it outlives the logout;
// a script's shell starts a background job with SIGINT ignored, and there
// `kill -INT` must still end the run in order.
void TerminationSignalsTest::anIgnoredHangUpStaysIgnored() {
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::vector<int> received;
    {
        TerminationSignals signals_;
        connect(&signals_, &TerminationSignals::received, this,
                [&received](int signal) { received.push_back(signal); });
        std::raise(SIGHUP);
        std::raise(SIGINT);
        // The SIGTERM after them is the control: had SIGHUP been caught it
        // would arrive first.
        std::raise(SIGTERM);
        QTRY_COMPARE(received, (std::vector<int>{SIGINT, SIGTERM}));
    }
    struct sigaction after {};
    QCOMPARE(sigaction(SIGHUP, nullptr, &after), 0);
    QVERIFY(after.sa_handler == SIG_IGN);
    std::signal(SIGHUP, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

QTEST_GUILESS_MAIN(TerminationSignalsTest)
#include "TerminationSignalsTest.moc"
