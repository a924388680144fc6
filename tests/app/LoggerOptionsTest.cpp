#include "app/LoggerOptions.h"

#include <QtTest>

#include <sstream>

using qm45::LoggerCommand;
using qm45::LoggerOptions;

namespace {

std::vector<std::string> words(const QString& line) {
    std::vector<std::string> out;
    for (const QString& w : line.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.push_back(w.toStdString());
    return out;
}

} // namespace

class LoggerOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void defaultsAreTheWindowsOwn();
    void linksAndValues_data();
    void linksAndValues();
    void mistakesAreNamed_data();
    void mistakesAreNamed();
    void durations_data();
    void durations();
    void parsingStopsAtHelpVersionOrAMistake();
};

void LoggerOptionsTest::defaultsAreTheWindowsOwn() {
    const LoggerCommand c = qm45::parseLoggerCommand(words("--port COM2"));
    QCOMPARE(int(c.action), int(LoggerCommand::Action::Run));
    const LoggerOptions& o = c.options;
    QCOMPARE(o.comNumber, 2);
    QCOMPARE(o.high, std::string("4000"));
    QCOMPARE(o.low, std::string("-4000"));
    QVERIFY(o.repeat);
    QVERIFY(!o.intervalSeconds && !o.limit && !o.duration && !o.count);
    QCOMPARE(int(o.format), int(LoggerOptions::Format::Text));
    QVERIFY(o.output.empty() && !o.append && !o.exitOnLoss && !o.usb);
}

void LoggerOptionsTest::linksAndValues_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected"); // a summary of the parsed options

    QTest::newRow("com, lower case") << "--port com4"
                                     << "com=4";
    QTest::newRow("device path") << "--port /dev/ttyUSB0"
                                 << "dev=/dev/ttyUSB0";
    QTest::newRow("usb") << "--usb"
                         << "usb";
    QTest::newRow("limits, locale text kept for the number rule") << "--usb --high 3,5 --low -1e3"
                                                                  << "usb high=3,5 low=-1e3";
    QTest::newRow("inline values") << "--port=COM1 --interval=5 --limit=10000"
                                   << "com=1 interval=5 limit=10000";
    QTest::newRow("output and format") << "--usb --format csv --output run.csv --append"
                                       << "usb csv out=run.csv append";
    QTest::newRow("end conditions") << "--usb --duration 8h --count 500 --exit-on-loss --no-repeat"
                                    << "usb norepeat duration=28800 count=500 exitonloss";
    QTest::newRow("last --port wins") << "--port COM1 --port /dev/ttyS1"
                                      << "dev=/dev/ttyS1";
    QTest::newRow("largest interval the timer holds") << "--usb --interval 2147483"
                                                      << "usb interval=2147483";
}

void LoggerOptionsTest::linksAndValues() {
    QFETCH(QString, line);
    QFETCH(QString, expected);
    const LoggerCommand c = qm45::parseLoggerCommand(words(line));
    QVERIFY2(c.action == LoggerCommand::Action::Run, c.mistake.c_str());
    const LoggerOptions& o = c.options;
    std::ostringstream s;
    if (o.comNumber)
        s << " com=" << o.comNumber;
    if (!o.devicePath.empty())
        s << " dev=" << o.devicePath;
    if (o.usb)
        s << " usb";
    if (o.high != "4000")
        s << " high=" << o.high;
    if (o.low != "-4000")
        s << " low=" << o.low;
    if (!o.repeat)
        s << " norepeat";
    if (o.intervalSeconds)
        s << " interval=" << *o.intervalSeconds;
    if (o.limit)
        s << " limit=" << *o.limit;
    if (o.format == LoggerOptions::Format::Csv)
        s << " csv";
    if (o.format == LoggerOptions::Format::Jsonl)
        s << " jsonl";
    if (!o.output.empty())
        s << " out=" << o.output;
    if (o.append)
        s << " append";
    if (o.duration)
        s << " duration=" << o.duration->count();
    if (o.count)
        s << " count=" << *o.count;
    if (o.exitOnLoss)
        s << " exitonloss";
    QCOMPARE(QString::fromStdString(s.str()).trimmed(), expected);
}

void LoggerOptionsTest::mistakesAreNamed_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("no link") << "--format csv"
                             << "choose a link";
    QTest::newRow("two links") << "--usb --port COM1"
                               << "choose one link";
    QTest::newRow("COM5") << "--port COM5"
                          << "COM1 to COM4";
    QTest::newRow("relative device") << "--port ttyUSB0"
                                     << "device path";
    QTest::newRow("port without value") << "--port"
                                        << "--port needs";
    QTest::newRow("interval zero") << "--usb --interval 0"
                                   << "--interval";
    QTest::newRow("interval negative") << "--usb --interval -5"
                                       << "--interval";
    QTest::newRow("interval beyond the timer") << "--usb --interval 2147484"
                                               << "--interval";
    QTest::newRow("limit not a number") << "--usb --limit many"
                                        << "--limit";
    QTest::newRow("count overflow") << "--usb --count 99999999999999999999"
                                    << "--count";
    QTest::newRow("format") << "--usb --format xml"
                            << "text, csv or jsonl";
    QTest::newRow("duration unit") << "--usb --duration 3w"
                                   << "--duration";
    QTest::newRow("append to stdout") << "--usb --append"
                                      << "--append needs --output";
    QTest::newRow("unknown") << "--usb --verbose"
                             << "unknown option --verbose";
    QTest::newRow("flag with a value") << "--usb=yes"
                                       << "unknown option --usb=yes";
}

void LoggerOptionsTest::mistakesAreNamed() {
    QFETCH(QString, line);
    QFETCH(QString, mentions);
    const LoggerCommand c = qm45::parseLoggerCommand(words(line));
    QCOMPARE(int(c.action), int(LoggerCommand::Action::Mistake));
    QVERIFY2(QString::fromStdString(c.mistake).contains(mentions), c.mistake.c_str());
}

void LoggerOptionsTest::durations_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds"); // -1: not a duration

    QTest::newRow("seconds") << "90s" << qint64(90);
    QTest::newRow("bare number") << "90" << qint64(90);
    QTest::newRow("minutes") << "45m" << qint64(2700);
    QTest::newRow("hours") << "8h" << qint64(28800);
    QTest::newRow("days") << "3d" << qint64(259200);
    QTest::newRow("zero") << "0s" << qint64(-1);
    QTest::newRow("unit only") << "h" << qint64(-1);
    QTest::newRow("fraction") << "1.5h" << qint64(-1);
    QTest::newRow("sign") << "+5s" << qint64(-1);
    QTest::newRow("blank inside") << "5 s" << qint64(-1);
    QTest::newRow("days overflowing") << "999999999999999d" << qint64(-1);
}

void LoggerOptionsTest::durations() {
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    const auto d = qm45::parseDuration(text.toStdString());
    if (seconds < 0) {
        QVERIFY2(!d, qPrintable(text));
    } else {
        QVERIFY2(d.has_value(), qPrintable(text));
        QCOMPARE(qint64(d->count()), seconds);
    }
}

void LoggerOptionsTest::parsingStopsAtHelpVersionOrAMistake() {
    QCOMPARE(int(qm45::parseLoggerCommand(words("--bogus --help")).action),
             int(LoggerCommand::Action::Mistake));
    QCOMPARE(int(qm45::parseLoggerCommand(words("--port COM9x --help")).action),
             int(LoggerCommand::Action::Mistake));
    QCOMPARE(int(qm45::parseLoggerCommand(words("--usb --help")).action),
             int(LoggerCommand::Action::Help));
    QCOMPARE(int(qm45::parseLoggerCommand(words("--version --bogus")).action),
             int(LoggerCommand::Action::Version));
}

QTEST_APPLESS_MAIN(LoggerOptionsTest)
#include "LoggerOptionsTest.moc"
