#include "app/LoggerRun.h"
#include "app/LoggerConsole.h"
#include "link/UsbCable.h"
#include "record/DataFiles.h"

#include "../link/FakeHidPlatform.h"
#include "../link/FakeSerialPlatform.h"
#include "../link/FixedPortDirectory.h"
#include "../support/MeterFrames.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

using namespace qm45;
using namespace qm45::test;

namespace {

const QString kNoCable =
    QStringLiteral("USB interface cable is not securely connected, please check and re-try.");
const QString kMeterSilent = QStringLiteral(
    "USB interface cable is securely connected, please check if the meter is ready.");
const QByteArray kSetupReport = QByteArray::fromHex("00600900000300000000");

// Where a run's console writes: a pipe for a terminal's status line (the test
// reads what has come so far), a memory file otherwise.
class ConsoleCapture {
public:
    explicit ConsoleCapture(bool terminal) {
        if (terminal) {
            int ends[2] = {-1, -1};
            if (::pipe2(ends, O_CLOEXEC) == 0) {
                readFd_ = ends[0];
                writeFd_ = ends[1];
                ::fcntl(readFd_, F_SETFL, O_NONBLOCK);
            }
        } else {
            writeFd_ = ::memfd_create("console", MFD_CLOEXEC);
        }
        console = std::make_unique<LoggerConsole>(writeFd_, terminal);
    }
    ~ConsoleCapture() {
        for (const int fd : {readFd_, writeFd_})
            if (fd >= 0)
                ::close(fd);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    [[nodiscard]] bool isValid() const { return writeFd_ >= 0; }

    // Everything written so far.
    QString text() {
        if (readFd_ >= 0) {
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(readFd_, buffer, sizeof buffer)) > 0)
                piped_.append(buffer, qsizetype(n));
            return QString::fromUtf8(piped_);
        }
        QByteArray all;
        char buffer[4096];
        ssize_t n = 0;
        off_t at = 0;
        while ((n = ::pread(writeFd_, buffer, sizeof buffer, at)) > 0) {
            all.append(buffer, qsizetype(n));
            at += n;
        }
        return QString::fromUtf8(all);
    }
    int count(const QString& needle) { return int(text().count(needle)); }

    std::unique_ptr<LoggerConsole> console;

private:
    int readFd_ = -1;
    int writeFd_ = -1;
    QByteArray piped_;
};

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One run of qm45-log inside the test: COM 2 on a scripted serial platform or
// a scripted USB cable, the output in a temporary folder, a fixed moment for
// every row.
struct Logger {
    explicit Logger(bool terminal = false) : capture(terminal) {
        options.comNumber = 2;
        options.output = path().toStdString();
        ports->setDevice(2, QStringLiteral("/dev/ttyFAKE2"));
    }

    // Starts the run; the exit status when it could not begin.
    std::optional<int> start(const QString& mark = QStringLiteral(".")) {
        LoggerServices services;
        services.serialPlatform = std::make_unique<FakeSerialPlatform>(serial);
        services.serialPorts = ports;
        services.hidPlatform = hid;
        services.locale = std::make_shared<FixedLocale>(mark);
        services.timeSeparator = QStringLiteral(":");
        services.now = [] {
            return QDateTime(QDate(2026, 12, 10), QTime(14, 27, 1, 123), QTimeZone(3600));
        };
        run = std::make_unique<LoggerRun>(options, std::move(services), *capture.console);
        finished = std::make_unique<QSignalSpy>(run.get(), &LoggerRun::finished);
        return run->start();
    }

    void feed(const QByteArray& bytes) const {
        run->received(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                      std::int32_t(bytes.size()));
    }

    [[nodiscard]] QString path() const { return dir.filePath(QStringLiteral("run.log")); }
    // The output's lines without their line ends.
    [[nodiscard]] QList<QByteArray> lines() const {
        QList<QByteArray> out = fileBytes(path()).split('\n');
        if (!out.isEmpty() && out.back().isEmpty())
            out.pop_back();
        for (QByteArray& line : out)
            if (line.endsWith('\r'))
                line.chop(1);
        return out;
    }
    // The status of `finished`, once it came; -1 before.
    [[nodiscard]] int exitStatus() const {
        return finished && finished->count() == 1 ? finished->at(0).at(0).toInt() : -1;
    }

    QTemporaryDir dir;
    ConsoleCapture capture;
    LoggerOptions options;
    FakeSerialPlatform::State serial;
    std::shared_ptr<FixedPortDirectory> ports = std::make_shared<FixedPortDirectory>();
    std::shared_ptr<FakeHidPlatform> hid = std::make_shared<FakeHidPlatform>();
    std::unique_ptr<LoggerRun> run;
    std::unique_ptr<QSignalSpy> finished;
};

QByteArray report(const QByteArray& meterBytes) {
    return FakeHidPlatform::cableReport(meterBytes);
}
const QByteArray kIdle = report({});

// The USB cable plugged in beside another HID device.
struct UsbLogger : Logger {
    UsbLogger() {
        options.usb = true;
        options.comNumber = 0;
        hid->add(FakeHidPlatform::Description{});
        cable = hid->add(FakeHidPlatform::cable());
    }
    // The frame in reports of three and seven meter bytes, then the idle
    // report that hands it to the decoder.
    void sendFrame(const char* payload) const {
        const QByteArray bytes = frame(payload);
        hid->pushReport(cable, report(bytes.left(3)));
        hid->pushReport(cable, report(bytes.mid(3, 7)));
        hid->pushReport(cable, report(bytes.mid(10)));
        hid->pushReport(cable, kIdle);
    }
    [[nodiscard]] bool rowsReach(std::int64_t rows) const {
        return runEventLoopUntil([this, rows] { return run->rowsWritten() >= rows; });
    }
    int cable = 0;
};

// The fields of a row as "no|value|verdict", read back the way each format's
// reader would.
QStringList rowsOf(LoggerOptions::Format format, const Logger& logger) {
    QStringList out;
    switch (format) {
    case LoggerOptions::Format::Text: {
        const DataFileLoadResult loaded = loadDataFile(logger.path());
        if (!loaded.loaded())
            return {QStringLiteral("<the window cannot load it>")};
        for (std::int64_t i = 0; i < loaded.rows.rowCount(); ++i) {
            const ReadingRow row = loaded.rows.row(i);
            out << QStringLiteral("%1|%2|%3").arg(row.no).arg(row.value, row.judge);
        }
        break;
    }
    case LoggerOptions::Format::Csv: {
        const QList<QByteArray> lines = logger.lines();
        if (lines.isEmpty() || !lines.front().startsWith("timestamp,no,"))
            return {QStringLiteral("<no csv header>")};
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> f = lines[i].split(',');
            if (f.size() != 9)
                return {QStringLiteral("<bad csv line %1>").arg(QString::fromUtf8(lines[i]))};
            out << QString::fromUtf8(f[1] + '|' + f[4] + '|' + f[8]);
        }
        break;
    }
    case LoggerOptions::Format::Jsonl:
        for (const QByteArray& line : logger.lines()) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            out << QStringLiteral("%1|%2|%3")
                       .arg(o.value("no").toInt())
                       .arg(o.value("value").toString(), o.value("verdict").toString());
        }
        break;
    }
    return out;
}

} // namespace

class LoggerRunTest : public QObject {
    Q_OBJECT

private slots:
    void framesBecomeRowsInEachFormat_data();
    void framesBecomeRowsInEachFormat();
    void verdictFollowsTheLimitTexts_data();
    void verdictFollowsTheLimitTexts();
    void limitThatIsNotANumberIsAMistake_data();
    void limitThatIsNotANumberIsAMistake();
    void badFramesAreCountedAndWarnedOnce();
    void recordLimitWarnsOnceAndTheRunGoesOn();
    void statusLineShowsReadingRowsRateTimeAndLink();
    void usbWithoutTheCableCannotStart();
    void usbCableIsSetUpAndItsReportsBecomeRows();
    void usbCableUnpluggedEndsTheRunWithExitOnLoss();
    void usbCableUnpluggedIsWaitedForAndTakenUpAgain();
    void usbMeterSilentWarnsAndSetsTheCableUpAgain();
    void usbMeterSilentEndsTheRunWithExitOnLoss();
};

void LoggerRunTest::framesBecomeRowsInEachFormat_data() {
    QTest::addColumn<int>("format");
    QTest::newRow("text") << int(LoggerOptions::Format::Text);
    QTest::newRow("csv") << int(LoggerOptions::Format::Csv);
    QTest::newRow("jsonl") << int(LoggerOptions::Format::Jsonl);
}

void LoggerRunTest::framesBecomeRowsInEachFormat() {
    QFETCH(int, format);
    Logger logger;
    QVERIFY(logger.capture.isValid());
    logger.options.format = LoggerOptions::Format(format);
    QCOMPARE(logger.start(), std::nullopt);

    logger.feed("\n" + frame("399991101") + frame("123453401"));
    // A frame cut across two reads of the port.
    const QByteArray overload = frame("A00001101");
    logger.feed(overload.left(4));
    QCOMPARE(logger.run->rowsWritten(), 2);
    logger.feed(overload.mid(4));

    QCOMPARE(logger.run->rowsWritten(), 3);
    QCOMPARE(logger.run->frames(), 3);
    QCOMPARE(logger.run->badFrames(), 0);
    QCOMPARE(rowsOf(LoggerOptions::Format(format), logger),
             (QStringList{"1|3.9999|pass", "2|12.345|pass", "3|.0L|Fail"}));
    QCOMPARE(logger.capture.text(), QString());
}

void LoggerRunTest::verdictFollowsTheLimitTexts_data() {
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("verdict");

    QTest::newRow("inside") << "."
                            << "4"
                            << "-4" << QByteArray("399991101") << "3.9999"
                            << "pass";
    QTest::newRow("on the high limit") << "."
                                       << "3.9999"
                                       << "0" << QByteArray("399991101") << "3.9999"
                                       << "pass";
    QTest::newRow("above high") << "."
                                << "3.5"
                                << "-4" << QByteArray("399991101") << "3.9999"
                                << "Fail";
    QTest::newRow("below low") << "."
                               << "10"
                               << "3.99995" << QByteArray("399991101") << "3.9999"
                               << "Fail";
    QTest::newRow("comma mark, inside") << ","
                                        << "4,5"
                                        << "-4,5" << QByteArray("399991101") << "3,9999"
                                        << "pass";
    QTest::newRow("comma mark, above high") << ","
                                            << "3,5"
                                            << "-4" << QByteArray("399991101") << "3,9999"
                                            << "Fail";
    QTest::newRow("overload") << "."
                              << "1e9"
                              << "-1e9" << QByteArray("A00001101") << ".0L"
                              << "Fail";
}

void LoggerRunTest::verdictFollowsTheLimitTexts() {
    QFETCH(QString, mark);
    QFETCH(QString, high);
    QFETCH(QString, low);
    QFETCH(QByteArray, payload);
    QFETCH(QString, value);
    QFETCH(QString, verdict);

    Logger logger;
    logger.options.high = high.toStdString();
    logger.options.low = low.toStdString();
    QCOMPARE(logger.start(mark), std::nullopt);
    logger.feed("\n" + frame(payload.constData()));
    QCOMPARE(logger.run->rowsWritten(), 1);
    const QList<QByteArray> lines = logger.lines();
    QCOMPARE(lines.size(), 2);
    const QList<QByteArray> fields = lines[1].split('\t');
    QCOMPARE(fields.size(), 6);
    QCOMPARE(QString::fromUtf8(fields[3]), value);
    QCOMPARE(QString::fromUtf8(fields[5]), verdict);
}

void LoggerRunTest::limitThatIsNotANumberIsAMistake_data() {
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("message");

    QTest::newRow("high is a word")
        << "."
        << "abc"
        << "-4"
        << "qm45-log: error: --high abc is not a number as this machine writes them (decimal "
           "mark: .)\n";
    QTest::newRow("high with a point where a comma is the mark")
        << ","
        << "4.5"
        << "-4"
        << "qm45-log: error: --high 4.5 is not a number as this machine writes them (decimal "
           "mark: ,)\n";
    QTest::newRow("low with a comma where a point is the mark")
        << "."
        << "4"
        << "-1,5"
        << "qm45-log: error: --low -1,5 is not a number as this machine writes them (decimal "
           "mark: .)\n";
    QTest::newRow("no decimal mark known")
        << ""
        << "4.5"
        << "-4"
        << "qm45-log: error: --high 4.5 is not a number as this machine writes them (decimal "
           "mark: none, whole numbers only)\n";
}

void LoggerRunTest::limitThatIsNotANumberIsAMistake() {
    QFETCH(QString, mark);
    QFETCH(QString, high);
    QFETCH(QString, low);
    QFETCH(QString, message);

    Logger logger;
    logger.options.high = high.toStdString();
    logger.options.low = low.toStdString();
    QCOMPARE(logger.start(mark), std::optional<int>(kLoggerMistake));
    QCOMPARE(logger.capture.text(), message);
    // Nothing was opened: neither the port nor the output.
    QVERIFY(logger.serial.calls.isEmpty());
    QVERIFY(!QFile::exists(logger.path()));
}

void LoggerRunTest::badFramesAreCountedAndWarnedOnce() {
    Logger logger;
    QCOMPARE(logger.start(), std::nullopt);
    logger.feed("\n" + frame("399991101") + frame("39999B101"));
    QCOMPARE(logger.run->badFrames(), 1);
    QCOMPARE(logger.capture.count(QStringLiteral("qm45-log: warning: bad frame from COM 2: ")), 1);
    // Another within the minute is counted, not told. (A rejected frame ends
    // its read: each comes in a read of its own after a line feed.)
    logger.feed("\n" + frame("66666B101"));
    logger.feed("\n" + frame("399981101"));
    QCOMPARE(logger.run->frames(), 4);
    QCOMPARE(logger.run->badFrames(), 2);
    QCOMPARE(logger.run->rowsWritten(), 2);
    QCOMPARE(logger.capture.count(QStringLiteral("bad frame")), 1);
    QVERIFY2(QString::fromStdString(logger.run->statusText()).contains(" frames/s (2 bad) | 0:"),
             logger.run->statusText().c_str());
    QCOMPARE(logger.lines().size(), 3);
}

void LoggerRunTest::recordLimitWarnsOnceAndTheRunGoesOn() {
    Logger logger;
    logger.options.limit = 2;
    QCOMPARE(logger.start(), std::nullopt);
    logger.feed("\n" + frame("399991101") + frame("399981101"));
    QCOMPARE(logger.capture.text(), QString());
    logger.feed(frame("399971101") + frame("399961101") + frame("399951101"));

    QCOMPARE(logger.run->frames(), 5);
    QCOMPARE(logger.run->rowsWritten(), 2);
    QCOMPARE(logger.lines().size(), 3);
    QCOMPARE(logger.capture.text(),
             QStringLiteral("qm45-log: warning: Recording stopped at 2 rows, the limit given "
                            "with --limit; the run goes on until it is ended.\n"));
    QVERIFY(!logger.run->isFinished());
    QVERIFY2(
        QString::fromStdString(logger.run->statusText()).contains("| 2 rows (limit reached) |"),
        logger.run->statusText().c_str());
}

void LoggerRunTest::statusLineShowsReadingRowsRateTimeAndLink() {
    Logger logger(true);
    QVERIFY(logger.capture.isValid());
    QCOMPARE(logger.start(), std::nullopt);
    // Drawn at once, before any frame.
    QCOMPARE(logger.capture.text(),
             QStringLiteral("\rno reading yet | COM 2 no data | 0 rows | 0.0 frames/s | "
                            "0:00:00\x1b[K"));

    logger.feed("\n" + frame("399991101") + frame("123453401") + frame("399991101"));
    const QString receiving = QString::fromStdString(logger.run->statusText());
    const QRegularExpression atOnce(QStringLiteral(
        R"(^3\.9999 V DC AUTO pass \| COM 2 receiving \| 3 rows \| 0\.0 frames/s \| 0:00:0[01]$)"));
    QVERIFY2(atOnce.match(receiving).hasMatch(), qPrintable(receiving));

    // The rate counts from the first second's tick on.
    QVERIFY(runEventLoopUntil(
        [&] { return logger.run->statusText().find(" 0.0 frames/s") == std::string::npos; }));
    const QString status = QString::fromStdString(logger.run->statusText());
    const QRegularExpression ticked(QStringLiteral(
        R"(^3\.9999 V DC AUTO pass \| COM 2 (receiving|no data) \| 3 rows \| 3\.0 frames/s \| 0:00:0[0-2]$)"));
    QVERIFY2(ticked.match(status).hasMatch(), qPrintable(status));
    // The console redraws it in place.
    const QRegularExpression drawn(
        QStringLiteral("\r3\\.9999 V DC AUTO pass \\| COM 2 (receiving|no data) \\| 3 rows \\| "
                       "3\\.0 frames/s \\| 0:00:0[0-2]\x1b\\[K"));
    QVERIFY2(runEventLoopUntil([&] { return drawn.match(logger.capture.text()).hasMatch(); }),
             qPrintable(logger.capture.text().toUtf8().toPercentEncoding(" |:")));

    // A warning goes above the line, which is drawn again below it.
    logger.feed(frame("39999B101"));
    const QString text = logger.capture.text();
    const QRegularExpression warning(QStringLiteral(
        "\r\x1b\\[Kqm45-log: warning: bad frame from COM 2: [^\n]*\n3\\.9999 V DC AUTO pass \\| "
        "COM 2 (receiving|no data) \\| 3 rows \\| [0-9.]+ frames/s \\| 0:00:0[0-3]$"));
    QVERIFY2(warning.match(text).hasMatch(),
             qPrintable(text.right(200).toUtf8().toPercentEncoding(" |:")));

    // Without frames for a second the link counts as quiet.
    QVERIFY(runEventLoopUntil(
        [&] { return logger.run->linkState() == LoggerRun::LinkState::Quiet; }, 5000));
    QVERIFY(QString::fromStdString(logger.run->statusText()).contains(" | COM 2 no data | "));

    // The last reading shows its readable unit; the end leaves the line
    // standing and says below it how many rows the file got.
    logger.feed("\n" + frame("123453401"));
    QVERIFY(QString::fromStdString(logger.run->statusText())
                .startsWith(QStringLiteral("12.345 k\u03A9 ")));
    logger.run->stop();
    const QString last = logger.capture.text().section('\r', -1);
    QVERIFY2(last.startsWith(QStringLiteral("12.345 k\u03A9 ")) &&
                 last.contains("\x1b[K\nqm45-log: 4 rows written to ") && last.endsWith("\n"),
             qPrintable(last));
    QVERIFY(runEventLoopUntil([&] { return logger.exitStatus() == kLoggerDone; }));
}

void LoggerRunTest::usbWithoutTheCableCannotStart() {
    Logger logger;
    logger.options.usb = true;
    logger.hid->add(FakeHidPlatform::Description{});
    QCOMPARE(logger.start(), std::optional<int>(kLoggerNoLink));
    QCOMPARE(logger.capture.text(), "qm45-log: error: " + kNoCable + "\n");
    QVERIFY(!QFile::exists(logger.path()));
}

void LoggerRunTest::usbCableIsSetUpAndItsReportsBecomeRows() {
    UsbLogger logger;
    logger.options.format = LoggerOptions::Format::Jsonl;
    QCOMPARE(logger.start(), std::nullopt);
    QCOMPARE(logger.hid->featureReports(logger.cable), QList<QByteArray>{kSetupReport});

    logger.hid->pushReport(logger.cable, kIdle);
    logger.sendFrame("399991101");
    logger.sendFrame("123453401");
    QVERIFY(logger.rowsReach(2));
    QCOMPARE(rowsOf(LoggerOptions::Format::Jsonl, logger),
             (QStringList{"1|3.9999|pass", "2|12.345|pass"}));
    QCOMPARE(logger.run->linkState(), LoggerRun::LinkState::Receiving);
    QVERIFY(QString::fromStdString(logger.run->statusText()).contains(" | USB cable receiving | "));
    QCOMPARE(logger.capture.text(), QString());
}

void LoggerRunTest::usbCableUnpluggedEndsTheRunWithExitOnLoss() {
    UsbLogger logger;
    logger.options.exitOnLoss = true;
    QCOMPARE(logger.start(), std::nullopt);
    logger.sendFrame("399991101");
    QVERIFY(logger.rowsReach(1));

    logger.hid->unplug(logger.cable);
    QVERIFY(runEventLoopUntil([&] { return logger.exitStatus() != -1; }));
    QCOMPARE(logger.exitStatus(), int(kLoggerLinkLost));
    QCOMPARE(logger.capture.text(),
             QStringLiteral("qm45-log: error: the USB interface cable has gone.\n"));
    QCOMPARE(logger.lines().size(), 2);
}

void LoggerRunTest::usbCableUnpluggedIsWaitedForAndTakenUpAgain() {
    UsbLogger logger;
    QCOMPARE(logger.start(), std::nullopt);
    logger.sendFrame("399991101");
    QVERIFY(logger.rowsReach(1));

    logger.hid->unplug(logger.cable);
    QVERIFY(
        runEventLoopUntil([&] { return logger.run->linkState() == LoggerRun::LinkState::Lost; }));
    QCOMPARE(logger.capture.text(),
             QStringLiteral("qm45-log: warning: the USB interface cable has gone. Waiting for "
                            "it to return.\n"));
    QVERIFY(
        QString::fromStdString(logger.run->statusText()).contains(" | USB cable lost, waiting | "));
    QVERIFY(!logger.run->isFinished());

    logger.hid->replug(logger.cable);
    QVERIFY(
        runEventLoopUntil([&] { return logger.run->linkState() != LoggerRun::LinkState::Lost; }));
    QVERIFY(logger.capture.text().endsWith(
        "qm45-log: the USB interface cable is back; recording goes on.\n"));
    QCOMPARE(logger.hid->featureReports(logger.cable),
             (QList<QByteArray>{kSetupReport, kSetupReport}));
    logger.hid->pushReport(logger.cable, kIdle);
    logger.sendFrame("399981101");
    QVERIFY(logger.rowsReach(2));
    QCOMPARE(rowsOf(LoggerOptions::Format::Text, logger),
             (QStringList{"1|3.9999|pass", "2|3.9998|pass"}));
    QCOMPARE(logger.exitStatus(), -1);
}

void LoggerRunTest::usbMeterSilentWarnsAndSetsTheCableUpAgain() {
    UsbLogger logger;
    QCOMPARE(logger.start(), std::nullopt);
    // A frame first; the idle report that ends it is the first of the count.
    logger.sendFrame("399991101");
    QVERIFY(logger.rowsReach(1));
    for (int i = 1; i < UsbCable::kIdleLimit - 1; ++i)
        logger.hid->pushReport(logger.cable, kIdle);
    QVERIFY(runEventLoopUntil([&] { return logger.hid->queuedReports(logger.cable) == 0; }));
    // One short of the limit: two seconds of watchdog ticks pass without a word.
    const auto running = [&] {
        const QString s = QString::fromStdString(logger.run->statusText());
        return s.section(QStringLiteral(" | "), 4, 4);
    };
    const QString before = running();
    QVERIFY(runEventLoopUntil(
        [&] {
            const QString now = running();
            return now != before && now.right(2).toInt() >= before.right(2).toInt() + 2;
        },
        6000));
    QCOMPARE(logger.capture.text(), QString());
    QCOMPARE(logger.hid->featureReports(logger.cable).size(), 1);

    logger.hid->pushReport(logger.cable, kIdle);
    QVERIFY(runEventLoopUntil(
        [&] { return logger.run->linkState() == LoggerRun::LinkState::MeterSilent; }));
    QCOMPARE(logger.capture.text(),
             "qm45-log: warning: " + kMeterSilent + " Waiting for readings.\n");
    QCOMPARE(logger.hid->featureReports(logger.cable),
             (QList<QByteArray>{kSetupReport, kSetupReport}));
    QVERIFY(
        QString::fromStdString(logger.run->statusText()).contains(" | USB cable meter silent | "));

    // Readings again: told once, recorded.
    logger.sendFrame("399981101");
    QVERIFY(logger.rowsReach(2));
    QVERIFY(logger.capture.text().endsWith("qm45-log: readings from USB cable again.\n"));
    QCOMPARE(logger.run->linkState(), LoggerRun::LinkState::Receiving);
}

void LoggerRunTest::usbMeterSilentEndsTheRunWithExitOnLoss() {
    UsbLogger logger;
    logger.options.exitOnLoss = true;
    QCOMPARE(logger.start(), std::nullopt);
    logger.sendFrame("399991101");
    QVERIFY(logger.rowsReach(1));
    for (int i = 1; i < UsbCable::kIdleLimit; ++i)
        logger.hid->pushReport(logger.cable, kIdle);
    QVERIFY(runEventLoopUntil([&] { return logger.exitStatus() != -1; }));
    QCOMPARE(logger.exitStatus(), int(kLoggerLinkLost));
    QCOMPARE(logger.capture.text(), "qm45-log: error: " + kMeterSilent + "\n");
    QCOMPARE(logger.hid->featureReports(logger.cable).size(), 1);
}

QTEST_GUILESS_MAIN(LoggerRunTest)
#include "LoggerRunTest.moc"
