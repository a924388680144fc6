// qm45-log run as a child process, reading frames from real pseudo-terminals:
// the rows it writes against what the window's recorder makes of the same
// bytes, how each kind of run ends, and what a run leaves on disk when it is
// killed, runs out of space or loses its port.

#include "link/LinuxSerialPortDirectory.h"
#include "protocol/MeterProtocol.h"
#include "record/DataFiles.h"
#include "record/LimitNumber.h"
#include "record/ReadingsModel.h"
#include "record/RecordClock.h"
#include "record/Recorder.h"
#include "record/SystemLocale.h"
#include "record/TextDataFile.h"
#include "tools/Scenario.h"

#include "../link/PseudoTerminal.h"
#include "../support/FixedClock.h"
#include "../support/MeterFrames.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace qm45;
using qm45::test::frame;
using qm45::test::PseudoTerminal;

namespace {

// Generous: the suite also runs under AddressSanitizer on a loaded machine.
constexpr int kDeadlineMs = 20000;
// Bytes allowed to wait on the line for the logger; well below what the
// line holds, so a write to the meter's end never blocks.
constexpr int kBacklog = 1500;

// Whole-number limits read the same whatever this machine's decimal mark.
const QString kHigh = QStringLiteral("4");
const QString kLow = QStringLiteral("0");

// DC volts with AUTO at 1.0001, 2.0002, 3.0003, 1.2345 V; a frame the
// decoder rejects (range digit B).
constexpr const char* kA = "100011101";
constexpr const char* kB = "200021101";
constexpr const char* kC = "300031101";
constexpr const char* kD = "123452101";
constexpr const char* kRejected = "39120B101";

QString timeSeparator() {
    return SystemRecordClock().timeSeparator();
}

// A frame counts when a line feed and its nine payload bytes lie between two
// carriage returns: the first carriage return ends whatever came before.
QByteArray frames(std::initializer_list<const char*> payloads) {
    QByteArray bytes = "\r\n";
    for (const char* payload : payloads)
        bytes += frame(payload);
    return bytes;
}

// The unit codes of the meter's functions as a person reads them, the way the
// csv and jsonl logs write them.
QString readableUnit(const QString& code) {
    static const QHash<QString, QString> names = {
        {QStringLiteral("V"), QStringLiteral("V")},
        {QStringLiteral("mV"), QStringLiteral("mV")},
        {QStringLiteral("*"), QStringLiteral("Ω")},
        {QStringLiteral("k*"), QStringLiteral("kΩ")},
        {QStringLiteral("M*"), QStringLiteral("MΩ")},
        {QStringLiteral("uF"), QStringLiteral("µF")},
        {QStringLiteral("nF"), QStringLiteral("nF")},
        {QStringLiteral("#"), QStringLiteral("°C")},
        {QStringLiteral("?"), QStringLiteral("°F")},
        {QStringLiteral("Hz"), QStringLiteral("Hz")},
        {QStringLiteral("kHz"), QStringLiteral("kHz")},
        {QStringLiteral("%"), QStringLiteral("%")},
    };
    return names.value(code, QStringLiteral("<no readable name for %1>").arg(code));
}

// What the window records from the same bytes: its decoder, its verdicts (the
// limits judged by LimitNumber, the previous verdict standing when there is
// none) and its Recorder, the clock standing still.
class WindowRecorder final : public MeterProtocol::Listener {
public:
    explicit WindowRecorder(QString high = QStringLiteral("4000"),
                            QString low = QStringLiteral("-4000"))
        : high_(std::move(high)), low_(std::move(low)) {
        const QString mark = LinuxSystemLocale().decimalMark();
        separator_ = LimitNumber::separatorOf(mark);
        protocol_.context().DecimalMark = mark.toStdString();
        protocol_.context().FullScale = 40000;
        protocol_.context().BarMax = 40;
        clock_.separator = timeSeparator();
        recorder_.setRecordLimit(Recorder::kLimitless);
    }

    void feed(const QByteArray& bytes) {
        protocol_.H45ARData(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                            std::int32_t(bytes.size()));
    }
    // Sampling by the timer instead of every frame.
    void sampleTimed() {
        timed_ = true;
        recorder_.startTimedSampling();
    }
    void tick() {
        const std::int64_t before = table_.rowCount();
        recorder_.timedSample();
        if (table_.rowCount() > before)
            autoFlags_.push_back(!sample_.AutoText.empty());
    }

    [[nodiscard]] Recorder& recorder() { return recorder_; }
    [[nodiscard]] const ReadingsTable& table() const { return table_; }
    [[nodiscard]] int rejected() const { return rejected_; }
    // The table has no column for the AUTO flag.
    [[nodiscard]] const std::vector<bool>& autoFlags() const { return autoFlags_; }

    // The window's tab-separated data file of the table, split into lines.
    [[nodiscard]] QList<QByteArray> textFileLines() const {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (!TextDataFile::write(table_.snapshot(), buffer))
            return {};
        QList<QByteArray> lines = buffer.data().split('\n');
        lines.removeLast(); // after the last line end
        return lines;
    }

private:
    void LcdDisplay45A(const DecodeResult& result) override {
        if (!result.accepted()) {
            ++rejected_;
            return;
        }
        const QString value = QString::fromStdString(result.after.reading.ValueText);
        std::string verdict = sample_.JudgeText;
        if (const std::optional<bool> pass = LimitNumber::judge(value, high_, low_, separator_))
            verdict = *pass ? LimitNumber::kPassText : LimitNumber::kFailText;
        sample_ = Sample{result.after.reading, std::move(verdict)};
        recorder_.frameDecoded(sample_);
        if (timed_)
            return;
        const std::int64_t before = table_.rowCount();
        recorder_.INDataToTable(sample_);
        if (table_.rowCount() > before)
            autoFlags_.push_back(!sample_.AutoText.empty());
    }

    QString high_;
    QString low_;
    QChar separator_;
    ReadingsTable table_;
    ReadingsModel model_{table_};
    test::FixedClock clock_;
    Recorder recorder_{model_, clock_};
    MeterProtocol protocol_{*this};
    Sample sample_;
    bool timed_ = false;
    int rejected_ = 0;
    std::vector<bool> autoFlags_;
};

// One row of a log as read back.
struct LogRow {
    int no = 0;
    QString timestamp; // csv, jsonl
    QString time;
    QString function;
    QString value;
    QString unit;
    bool siNull = true; // csv, jsonl
    bool autoRange = false;
    QString verdict;
    QList<QByteArray> textFields; // text: the line's fields
};

struct LogFile {
    QByteArray bytes;
    bool whole = false; // empty, or ends with a line end
    int headers = 0;
    std::vector<LogRow> rows;
    QString problem; // the first line that is not what the format says
};

const QByteArray kCsvHeader = "timestamp,no,time,function,value,unit,si_value,auto,verdict";

// One CSV record (RFC 4180) without its line end; nothing when a quote is
// left open or stray.
std::optional<QStringList> csvFields(const QByteArray& line) {
    QStringList fields;
    QByteArray field;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == ',') {
            fields << QString::fromUtf8(field);
            field.clear();
            wasQuoted = false;
        } else if (c == '"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == '"' || wasQuoted) {
            return std::nullopt;
        } else {
            field += c;
        }
    }
    if (quoted)
        return std::nullopt;
    fields << QString::fromUtf8(field);
    return fields;
}

std::optional<LogRow> parseRow(const QString& format, const QByteArray& line) {
    LogRow row;
    bool ok = false;
    if (format == QLatin1String("text")) {
        row.textFields = line.split('\t');
        if (row.textFields.size() != 6)
            return std::nullopt;
        const auto text = [&](int i) {
            const QByteArray& f = row.textFields[i];
            return f == "NULL" ? QString() : QString::fromUtf8(f);
        };
        row.no = row.textFields[0].toInt(&ok);
        row.time = text(1);
        row.function = text(2);
        row.value = text(3);
        row.unit = text(4);
        row.verdict = text(5);
        return ok ? std::optional(row) : std::nullopt;
    }
    if (format == QLatin1String("csv")) {
        const std::optional<QStringList> f = csvFields(line);
        if (!f || f->size() != 9)
            return std::nullopt;
        row.timestamp = f->at(0);
        row.no = f->at(1).toInt(&ok);
        row.time = f->at(2);
        row.function = f->at(3);
        row.value = f->at(4);
        row.unit = f->at(5);
        bool number = true;
        if (!f->at(6).isEmpty())
            f->at(6).toDouble(&number);
        row.siNull = f->at(6).isEmpty();
        row.autoRange = f->at(7) == QLatin1String("true");
        row.verdict = f->at(8);
        const bool flag = f->at(7) == QLatin1String("true") || f->at(7) == QLatin1String("false");
        return ok && number && flag ? std::optional(row) : std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject o = document.object();
    const QStringList keys = {"timestamp", "no",       "time", "function", "value",
                              "unit",      "si_value", "auto", "verdict"};
    if (o.keys().size() != keys.size())
        return std::nullopt;
    for (const QString& key : keys) {
        if (!o.contains(key))
            return std::nullopt;
    }
    if (!o["no"].isDouble() || !o["auto"].isBool() ||
        !(o["si_value"].isNull() || o["si_value"].isDouble()) ||
        !(o["verdict"].isNull() || o["verdict"].isString()))
        return std::nullopt;
    row.timestamp = o["timestamp"].toString();
    row.no = o["no"].toInt();
    row.time = o["time"].toString();
    row.function = o["function"].toString();
    row.value = o["value"].toString();
    row.unit = o["unit"].toString();
    row.siNull = o["si_value"].isNull();
    row.autoRange = o["auto"].toBool();
    row.verdict = o["verdict"].toString();
    return row;
}

LogFile readLog(const QString& path, const QString& format) {
    LogFile log;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        log.problem = QStringLiteral("cannot read ") + path;
        return log;
    }
    log.bytes = file.readAll();
    log.whole = log.bytes.isEmpty() || log.bytes.endsWith('\n');
    QList<QByteArray> lines = log.bytes.split('\n');
    lines.removeLast(); // after the last line end, or a broken last line
    const bool crlf = format != QLatin1String("jsonl");
    const QByteArray header = format == QLatin1String("text")
                                  ? QByteArray(TextDataFile::kHeader).chopped(2)
                              : format == QLatin1String("csv") ? kCsvHeader
                                                               : QByteArray();
    for (qsizetype i = 0; i < lines.size() && log.problem.isEmpty(); ++i) {
        QByteArray line = lines[i];
        if (crlf) {
            if (!line.endsWith('\r')) {
                log.problem = QStringLiteral("line %1 does not end with CR LF").arg(i + 1);
                break;
            }
            line.chop(1);
        }
        if (!header.isEmpty() && line == header) {
            ++log.headers;
            if (i > 0)
                log.problem = QStringLiteral("a second header at line %1").arg(i + 1);
            continue;
        }
        if (const std::optional<LogRow> row = parseRow(format, line))
            log.rows.push_back(*row);
        else
            log.problem = QStringLiteral("line %1 is not a row: %2").arg(i + 1).arg(line);
    }
    if (log.problem.isEmpty() && !header.isEmpty() && log.headers != 1)
        log.problem = QStringLiteral("no header line");
    return log;
}

int rowsIn(const QString& path, const QString& format) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const int lines = int(file.readAll().count('\n'));
    return format == QLatin1String("jsonl") ? lines : std::max(0, lines - 1);
}

QString describe(int no, const QString& function, const QString& value, const QString& unit,
                 const QString& verdict) {
    return QStringLiteral("%1|%2|%3|%4|%5").arg(no).arg(function, value, unit, verdict);
}

QStringList describeLog(const LogFile& log, std::size_t first = 0) {
    QStringList out;
    for (std::size_t i = first; i < log.rows.size(); ++i) {
        const LogRow& r = log.rows[i];
        out << describe(r.no, r.function, r.value, r.unit, r.verdict);
    }
    return out;
}

// The window's rows as the format writes them: unit codes in the text file,
// readable units in csv and jsonl.
// `firstNo`: the number the window's first row gets in the log (a continued
// log numbers on after its last row).
QStringList describeWindow(const WindowRecorder& window, const QString& format,
                           std::int64_t rows = -1, std::int64_t firstNo = 1) {
    const ReadingsTable& t = window.table();
    const std::int64_t n = rows < 0 ? t.rowCount() : std::min(rows, t.rowCount());
    QStringList out;
    for (std::int64_t i = 0; i < n; ++i) {
        const ReadingRow r = t.row(i);
        const QString unit = format == QLatin1String("text") ? r.unit : readableUnit(r.unit);
        out << describe(int(r.no + firstNo - 1), r.dcac, r.value, unit, r.judge);
    }
    return out;
}

// Empty when every row's time column is "hh:mm:ss" with the machine's
// separator and, where there is a timestamp, the timestamp is ISO 8601 with
// date, milliseconds and offset, names a moment inside the run, and its local
// time of day is the time column.
QString timeProblem(const LogFile& log, const QDateTime& before, const QDateTime& after) {
    const QString sep = QRegularExpression::escape(timeSeparator());
    const QRegularExpression time(QStringLiteral("^\\d\\d%1\\d\\d%1\\d\\d$").arg(sep));
    const QRegularExpression iso(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\dT(\\d\\d):(\\d\\d):(\\d\\d)\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    for (const LogRow& r : log.rows) {
        if (!time.match(r.time).hasMatch())
            return QStringLiteral("row %1: time %2").arg(r.no).arg(r.time);
        if (!r.textFields.isEmpty())
            continue;
        const QRegularExpressionMatch m = iso.match(r.timestamp);
        if (!m.hasMatch())
            return QStringLiteral("row %1: timestamp %2").arg(r.no).arg(r.timestamp);
        const QString hms =
            m.captured(1) + timeSeparator() + m.captured(2) + timeSeparator() + m.captured(3);
        if (r.time != hms)
            return QStringLiteral("row %1: time %2 beside timestamp %3")
                .arg(r.no)
                .arg(r.time, r.timestamp);
        const QDateTime taken = QDateTime::fromString(r.timestamp, Qt::ISODateWithMs);
        if (!taken.isValid() || taken < before.addSecs(-1) || taken > after.addSecs(1))
            return QStringLiteral("row %1: timestamp %2 outside the run, %3 to %4")
                .arg(r.no)
                .arg(r.timestamp, before.toString(Qt::ISODateWithMs),
                     after.toString(Qt::ISODateWithMs));
        if (taken.toLocalTime().time().toString(QStringLiteral("HH:mm:ss")) !=
            QStringLiteral("%1:%2:%3").arg(m.captured(1), m.captured(2), m.captured(3)))
            return QStringLiteral("row %1: timestamp %2 is not local time")
                .arg(r.no)
                .arg(r.timestamp);
    }
    return {};
}

// Whether process `pid` holds `path` open.
bool holdsOpen(qint64 pid, const QString& path) {
    const QByteArray want = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    const QByteArray dir = "/proc/" + QByteArray::number(pid) + "/fd";
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(d)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[PATH_MAX];
        const QByteArray link = dir + '/' + entry->d_name;
        const ssize_t n = ::readlink(link.constData(), target, sizeof target);
        if (n > 0 && QByteArray(target, n) == want) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

// qm45-log as a child process, its standard error collected.
class LoggerProcess {
public:
    explicit LoggerProcess(const QStringList& arguments,
                           const std::function<void()>& inChild = {}) {
        process_.setProgram(QStringLiteral(QM45_LOG_BINARY));
        process_.setArguments(arguments);
        if (inChild)
            process_.setChildProcessModifier(inChild);
        QObject::connect(&process_, &QProcess::readyReadStandardError, &process_,
                         [this] { errors_ += process_.readAllStandardError(); });
        process_.start();
        process_.waitForStarted(kDeadlineMs);
    }
    ~LoggerProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kDeadlineMs);
        }
    }
    LoggerProcess(const LoggerProcess&) = delete;
    LoggerProcess& operator=(const LoggerProcess&) = delete;

    [[nodiscard]] bool running() const { return process_.state() == QProcess::Running; }

    // The output is opened after the link, which is then open, set up and
    // purged: bytes written to the line from now on are read.
    [[nodiscard]] bool waitForOutputOpen(const QString& path) {
        const qint64 pid = process_.processId();
        return QTest::qWaitFor([&] { return !running() || holdsOpen(pid, path); }, kDeadlineMs) &&
               running();
    }
    [[nodiscard]] bool waitForErrors(const QString& text) {
        return QTest::qWaitFor([&] { return errors().contains(text) || !running(); },
                               kDeadlineMs) &&
               errors().contains(text);
    }
    [[nodiscard]] bool waitForExit() {
        return QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; },
                               kDeadlineMs);
    }
    // Whether it is running and holds `path` open, as the process table says
    // it, not as the event loop has heard it.
    [[nodiscard]] bool holds(const QString& path) const {
        return running() && holdsOpen(process_.processId(), path);
    }
    void signal(int number) { ::kill(pid_t(process_.processId()), number); }
    void kill() { process_.kill(); }

    [[nodiscard]] int exitCode() const { return process_.exitCode(); }
    [[nodiscard]] QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    [[nodiscard]] QString errors() {
        errors_ += process_.readAllStandardError();
        return QString::fromUtf8(errors_);
    }

private:
    QProcess process_;
    QByteArray errors_;
};

// The meter's end of a line: a pseudo-terminal whose master never blocks a
// write, so that a logger which stops reading fails a test instead of
// hanging it.
class MeterLine : public PseudoTerminal {
public:
    MeterLine() {
        // Our own descriptor of the master, found by the number of its slave.
        DIR* d = ::opendir("/proc/self/fd");
        while (const dirent* entry = d ? ::readdir(d) : nullptr) {
            const int fd = std::atoi(entry->d_name);
            unsigned int number = 0;
            if (entry->d_name[0] != '.' && fd != ::dirfd(d) &&
                ::ioctl(fd, TIOCGPTN, &number) == 0 &&
                QStringLiteral("/dev/pts/%1").arg(number) == slavePath()) {
                master_ = fd;
                break;
            }
        }
        if (d)
            ::closedir(d);
        if (master_ >= 0 && ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            master_ = -1;
    }

    [[nodiscard]] bool isValid() const { return PseudoTerminal::isValid() && master_ >= 0; }
    void closeMaster() {
        PseudoTerminal::closeMaster();
        master_ = -1;
    }

    // Writes all of `bytes`, waiting while the line is full. False when
    // `stop` says so first, or when nobody takes the bytes for a long time.
    [[nodiscard]] bool send(const QByteArray& bytes, const std::function<bool()>& stop = {}) {
        qsizetype done = 0;
        QElapsedTimer idle;
        idle.start();
        while (done < bytes.size() && master_ >= 0) {
            const ssize_t n =
                ::write(master_, bytes.constData() + done, std::size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                idle.restart();
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if ((stop && stop()) || idle.elapsed() > kDeadlineMs)
                return false;
            QTest::qWait(2); // the reader's turn
        }
        return done == bytes.size();
    }

private:
    int master_ = -1;
};

[[nodiscard]] bool waitForRows(const QString& path, const QString& format, int rows) {
    return QTest::qWaitFor([&] { return rowsIn(path, format) >= rows; }, kDeadlineMs);
}

// Writes the bursts to the meter's end of the line, never more than kBacklog
// bytes ahead of the reader, until `enough` says so (or all of them without
// it). False when the reader stops taking them, or when the bursts run out
// before `enough` is true.
[[nodiscard]] bool pour(MeterLine& line, const QList<QByteArray>& bursts,
                        const std::function<bool()>& enough = {}) {
    const auto done = [&] { return enough && enough(); };
    for (const QByteArray& burst : bursts) {
        if (done())
            return true;
        const bool room = QTest::qWaitFor(
            [&] {
                const int queued = line.queuedInput();
                return done() || (queued >= 0 && queued < kBacklog);
            },
            kDeadlineMs);
        if (!room || !line.send(burst, done))
            return done();
    }
    return !enough || enough();
}

// Bytes cut into pieces a reader may see one at a time.
QList<QByteArray> pieces(const QByteArray& bytes, int size = 512) {
    QList<QByteArray> out;
    for (qsizetype at = 0; at < bytes.size(); at += size)
        out << bytes.mid(at, size);
    return out;
}

// Frames counting up from 0.0001 V DC, ten to a burst: every row tells which
// frame it came from.
QList<QByteArray> countingBursts(int count) {
    QList<QByteArray> bursts;
    QByteArray burst = "\n";
    for (int i = 1; i <= count; ++i) {
        char payload[16];
        std::snprintf(payload, sizeof payload, "%05d1101", i);
        burst += frame(payload);
        if (i % 10 == 0) {
            bursts << burst;
            burst.clear();
        }
    }
    if (!burst.isEmpty())
        bursts << burst;
    return bursts;
}

// One loop of the virtual meter's scenario, cut after each frame the decoder
// rejects: the decoder drops the rest of a read after such a frame, so the
// next piece, which starts with that frame's line feed, is written only once
// the logger has read it.
QList<QByteArray> scenarioSegments() {
    sim::Scenario scenario(sim::Scenario::standardSteps());
    WindowRecorder probe;
    QList<QByteArray> segments{QByteArray("\n")}; // the line feed before the first frame
    probe.feed(segments.back());
    for (int i = 0; i < scenario.framesPerLoop(); ++i) {
        const sim::Frame f = scenario.next();
        const QByteArray bytes(reinterpret_cast<const char*>(f.bytes.data()),
                               qsizetype(f.bytes.size()));
        const QByteArray head = bytes.left(bytes.lastIndexOf('\r') + 1);
        const QByteArray tail = bytes.mid(head.size());
        const int rejected = probe.rejected();
        probe.feed(head);
        segments.back() += head;
        if (probe.rejected() > rejected)
            segments << QByteArray();
        probe.feed(tail);
        segments.back() += tail;
    }
    return segments;
}

} // namespace

class LoggerEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void rowsEqualTheWindowsRecorder_data();
    void rowsEqualTheWindowsRecorder();
    void textLogLoadsBackThroughTheWindowsReader();
    void recordingRulesAsInTheWindow_data();
    void recordingRulesAsInTheWindow();
    void durationEndsTheRunOnTime();
    void intervalRecordsOnlyTicksWithAFreshFrame();
    void signalEndsTheRunWithWholeRows_data();
    void signalEndsTheRunWithWholeRows();
    void killedRunLeavesWholeRowsThatAppendContinues_data();
    void killedRunLeavesWholeRowsThatAppendContinues();
    void fullDiskEndsTheRunKeepingEveryWholeRow();
    void startFailuresLeaveTheOutputAlone_data();
    void startFailuresLeaveTheOutputAlone();
    void lostPortEndsTheRunWithExitOnLoss_data();
    void lostPortEndsTheRunWithExitOnLoss();
    void lostPortIsAwaitedAndRecordingGoesOn();
    void badFramesNeverStopTheRun();

private:
    // Plays the scenario into a logger writing `format` to `path`, with the
    // limits kHigh and kLow, until it ends by --count after the last row the
    // window records from it.
    void recordScenario(const QString& format, const QString& path, WindowRecorder& window,
                        QDateTime& before, QDateTime& after);
};

void LoggerEndToEndTest::initTestCase() {
    QVERIFY2(QFileInfo(QStringLiteral(QM45_LOG_BINARY)).isExecutable(), QM45_LOG_BINARY);
}

void LoggerEndToEndTest::recordScenario(const QString& format, const QString& path,
                                        WindowRecorder& window, QDateTime& before,
                                        QDateTime& after) {
    const QList<QByteArray> segments = scenarioSegments();
    for (const QByteArray& segment : segments)
        window.feed(segment);
    QVERIFY2(segments.size() == 2 && window.rejected() == 1,
             "the scenario's loop should hold one frame the decoder rejects");
    const std::int64_t rows = window.table().rowCount();

    MeterLine pty;
    QVERIFY(pty.isValid());
    before = QDateTime::currentDateTime();
    LoggerProcess logger({"--port", pty.slavePath(), "--format", format, "--output", path, "--high",
                          kHigh, "--low", kLow, "--count", QString::number(rows)});
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(pour(pty, pieces(segments[0])));
    QVERIFY(logger.waitForErrors(
        QStringLiteral("qm45-log: warning: bad frame from %1: ").arg(pty.slavePath())));
    QVERIFY(pour(pty, pieces(segments[1])));
    QVERIFY(logger.waitForExit());
    after = QDateTime::currentDateTime();
    QCOMPARE(logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(logger.exitCode(), 0);
    // The one bad frame, told once.
    QCOMPARE(logger.errors().count(QLatin1Char('\n')), 1);
}

void LoggerEndToEndTest::rowsEqualTheWindowsRecorder_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("text") << QStringLiteral("text");
    QTest::newRow("csv") << QStringLiteral("csv");
    QTest::newRow("jsonl") << QStringLiteral("jsonl");
}

// The scenario tours the meter's functions with repeats, overloads, damaged
// and rejected frames; every format holds the rows the window records.
void LoggerEndToEndTest::rowsEqualTheWindowsRecorder() {
    QFETCH(QString, format);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.") + format);
    WindowRecorder window(kHigh, kLow);
    QDateTime before;
    QDateTime after;
    recordScenario(format, path, window, before, after);
    if (QTest::currentTestFailed())
        return;

    // What the scenario is relied on to hold.
    QSet<QString> units;
    QSet<QString> verdicts;
    bool overload = false;
    bool repeat = false;
    for (std::int64_t i = 0; i < window.table().rowCount(); ++i) {
        const ReadingRow r = window.table().row(i);
        units << r.unit;
        verdicts << r.judge;
        overload = overload || r.value.contains(QLatin1Char('L'));
        repeat = repeat || (i > 0 && r.value == window.table().row(i - 1).value);
    }
    QVERIFY(units.size() >= 5);
    QCOMPARE(verdicts, (QSet<QString>{QStringLiteral("pass"), QStringLiteral("Fail")}));
    QVERIFY(overload);
    QVERIFY(repeat);

    const LogFile log = readLog(path, format);
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QVERIFY(log.whole);
    QCOMPARE(describeLog(log), describeWindow(window, format));
    const QString times = timeProblem(log, before, after);
    QVERIFY2(times.isEmpty(), qPrintable(times));

    if (format == QLatin1String("text")) {
        // Line by line the window's data file, but for the time of day.
        QList<QByteArray> expected = window.textFileLines();
        QList<QByteArray> lines = log.bytes.split('\n');
        lines.removeLast();
        QCOMPARE(lines.size(), expected.size());
        QCOMPARE(lines[0], expected[0]);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QList<QByteArray> got = lines[i].split('\t');
            QList<QByteArray> want = expected[i].split('\t');
            QVERIFY(got.size() == 6 && want.size() == 6);
            got.removeAt(1);
            want.removeAt(1);
            QCOMPARE(got, want);
        }
        return;
    }
    const std::vector<bool>& autoFlags = window.autoFlags();
    QCOMPARE(log.rows.size(), autoFlags.size());
    for (std::size_t i = 0; i < log.rows.size(); ++i) {
        const LogRow& r = log.rows[i];
        QVERIFY2(r.autoRange == autoFlags[i], qPrintable(QString::number(r.no)));
        // A value that is not a number has no value in SI units.
        const bool number =
            LimitNumber::parse(r.value, LimitNumber::separatorOf(LinuxSystemLocale().decimalMark()))
                .has_value();
        QVERIFY2(r.siNull == !number, qPrintable(r.value));
    }
}

void LoggerEndToEndTest::textLogLoadsBackThroughTheWindowsReader() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    WindowRecorder window(kHigh, kLow);
    QDateTime before;
    QDateTime after;
    recordScenario(QStringLiteral("text"), path, window, before, after);
    if (QTest::currentTestFailed())
        return;

    const LogFile log = readLog(path, QStringLiteral("text"));
    const DataFileLoadResult loaded = loadDataFile(path);
    QVERIFY(loaded.loaded());
    QCOMPARE(loaded.format, DataFileFormat::Text);
    QCOMPARE(loaded.rows.rowCount(), window.table().rowCount());
    QCOMPARE(std::size_t(loaded.rows.rowCount()), log.rows.size());
    for (std::int64_t i = 0; i < loaded.rows.rowCount(); ++i) {
        const ReadingRow got = loaded.rows.row(i);
        const ReadingRow want = window.table().row(i);
        QCOMPARE(describe(got.no, got.dcac, got.value, got.unit, got.judge),
                 describe(want.no, want.dcac, want.value, want.unit, want.judge));
        QCOMPARE(got.time, log.rows[std::size_t(i)].time);
        QVERIFY(got.isNull(Field::nval));
    }
}

void LoggerEndToEndTest::recordingRulesAsInTheWindow_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<int>("limit");            // 0: none
    QTest::addColumn<int>("count");            // 0: none; else the run ends by itself
    QTest::addColumn<QStringList>("warnings"); // all of standard error, {port} the port

    const QString limitText = QStringLiteral(
        "qm45-log: warning: Recording stopped at %1 rows, the limit given with --limit; the run "
        "goes on until it is ended.");
    // A bad frame after the limit is told: the run went on past it.
    const QString badFrame = QStringLiteral("qm45-log: warning: bad frame from {port}: ");

    QTest::newRow("every frame") << QStringList{} << frames({kA, kA, kB, kA}) << true << 0 << 0
                                 << QStringList{};
    QTest::newRow("--no-repeat") << QStringList{"--no-repeat"} << frames({kA, kA, kB, kB, kA, kC})
                                 << false << 0 << 0 << QStringList{};
    QTest::newRow("--limit") << QStringList{"--limit", "3"}
                             << frames({kA, kB, kC, kD, kA, kRejected}) << true << 3 << 0
                             << QStringList{limitText.arg(3), badFrame};
    QTest::newRow("--limit counts rows, --no-repeat numbers")
        << QStringList{"--no-repeat", "--limit", "2"} << frames({kA, kA, kB, kC, kD, kRejected})
        << false << 2 << 0 << QStringList{limitText.arg(2), badFrame};
    QTest::newRow("--count") << QStringList{"--count", "2"} << frames({kA, kB, kC, kD}) << true << 0
                             << 2 << QStringList{};
    QTest::newRow("--count after skipped repeats")
        << QStringList{"--no-repeat", "--count", "2"} << frames({kA, kA, kA, kB, kC}) << false << 0
        << 2 << QStringList{};
}

void LoggerEndToEndTest::recordingRulesAsInTheWindow() {
    QFETCH(QStringList, options);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, repeat);
    QFETCH(int, limit);
    QFETCH(int, count);
    QFETCH(QStringList, warnings);

    WindowRecorder window;
    window.recorder().setRepeatSet(repeat);
    if (limit > 0)
        window.recorder().setRecordLimit(limit);
    window.feed(bytes);
    const int rows = count > 0 ? count : int(window.table().rowCount());

    MeterLine pty;
    QVERIFY(pty.isValid());
    for (QString& w : warnings)
        w.replace(QStringLiteral("{port}"), pty.slavePath());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    LoggerProcess logger(
        QStringList{"--port", pty.slavePath(), "--format", "csv", "--output", path} + options);
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(pty.send(bytes));
    if (count == 0) {
        QVERIFY(waitForRows(path, QStringLiteral("csv"), rows));
        for (const QString& w : warnings)
            QVERIFY2(logger.waitForErrors(w), qPrintable(w));
        logger.signal(SIGTERM);
    }
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(logger.exitCode(), 0);

    const LogFile log = readLog(path, QStringLiteral("csv"));
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QCOMPARE(describeLog(log), describeWindow(window, QStringLiteral("csv"), rows));
    QStringList told = logger.errors().split(QLatin1Char('\n'));
    told.removeLast();
    QCOMPARE(told.size(), warnings.size());
    for (qsizetype i = 0; i < told.size(); ++i)
        QVERIFY2(told[i].startsWith(warnings[i]), qPrintable(told[i]));
}

void LoggerEndToEndTest::durationEndsTheRunOnTime() {
    MeterLine pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    LoggerProcess logger(
        {"--port", pty.slavePath(), "--format", "csv", "--output", path, "--duration", "2s"});
    QVERIFY(logger.waitForOutputOpen(path));
    QElapsedTimer running;
    running.start();
    QVERIFY(pty.send(frames({kA})));
    QVERIFY(waitForRows(path, QStringLiteral("csv"), 1)); // it records meanwhile
    QVERIFY(logger.waitForExit());
    const qint64 elapsed = running.elapsed();
    QCOMPARE(logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(logger.exitCode(), 0);
    QVERIFY2(elapsed >= 1950, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 2000 + 4000, qPrintable(QString::number(elapsed)));
    QCOMPARE(logger.errors(), QString());
    const LogFile log = readLog(path, QStringLiteral("csv"));
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QCOMPARE(log.rows.size(), std::size_t(1));
}

// A burst of frames gives the next tick's row, the burst's last reading;
// ticks while the meter is silent give none and use no number.
void LoggerEndToEndTest::intervalRecordsOnlyTicksWithAFreshFrame() {
    const QByteArray burst = frames({kA, kB, kC, kD, kA, kB, kC});
    const QByteArray later = frames({kD});
    WindowRecorder window;
    window.sampleTimed();
    window.feed(burst);
    window.tick();
    window.tick(); // silent
    window.tick(); // silent
    window.feed(later);
    window.tick();
    QCOMPARE(window.table().rowCount(), std::int64_t(2));

    MeterLine pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    LoggerProcess logger(
        {"--port", pty.slavePath(), "--format", "csv", "--output", path, "--interval", "1"});
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(pty.send(burst));
    QVERIFY(waitForRows(path, QStringLiteral("csv"), 1));
    QElapsedTimer silent;
    silent.start();
    // Two ticks pass without a frame; then the meter speaks again.
    QVERIFY(QTest::qWaitFor([&] { return silent.elapsed() >= 2200; }, kDeadlineMs));
    QVERIFY(pty.send(later));
    QVERIFY(waitForRows(path, QStringLiteral("csv"), 2));
    logger.signal(SIGTERM);
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitCode(), 0);

    const LogFile log = readLog(path, QStringLiteral("csv"));
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QCOMPARE(describeLog(log), describeWindow(window, QStringLiteral("csv")));
    const QDateTime first = QDateTime::fromString(log.rows[0].timestamp, Qt::ISODateWithMs);
    const QDateTime second = QDateTime::fromString(log.rows[1].timestamp, Qt::ISODateWithMs);
    QVERIFY2(first.msecsTo(second) >= 1500,
             qPrintable(log.rows[0].timestamp + QStringLiteral(" ") + log.rows[1].timestamp));
}

void LoggerEndToEndTest::signalEndsTheRunWithWholeRows_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("format");
    QTest::newRow("SIGINT, text") << int(SIGINT) << QStringLiteral("text");
    QTest::newRow("SIGTERM, csv") << int(SIGTERM) << QStringLiteral("csv");
    QTest::newRow("SIGHUP, jsonl") << int(SIGHUP) << QStringLiteral("jsonl");
}

// Ended while frames pour in: status 0, and the file holds the rows of the
// first frames, each line whole.
void LoggerEndToEndTest::signalEndsTheRunWithWholeRows() {
    QFETCH(int, signal);
    QFETCH(QString, format);
    const QList<QByteArray> bursts = countingBursts(20000);
    WindowRecorder window;
    for (const QByteArray& b : bursts)
        window.feed(b);

    MeterLine pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.") + format);
    LoggerProcess logger({"--port", pty.slavePath(), "--format", format, "--output", path});
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(pour(pty, bursts, [&] { return rowsIn(path, format) >= 200; }));
    logger.signal(signal);
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(logger.exitCode(), 0);
    QCOMPARE(logger.errors(), QString());

    const LogFile log = readLog(path, format);
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QVERIFY(log.whole);
    QVERIFY(log.rows.size() >= 200);
    QCOMPARE(describeLog(log), describeWindow(window, format, std::int64_t(log.rows.size())));
}

void LoggerEndToEndTest::killedRunLeavesWholeRowsThatAppendContinues_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("text") << QStringLiteral("text");
    QTest::newRow("csv") << QStringLiteral("csv");
    QTest::newRow("jsonl") << QStringLiteral("jsonl");
}

// SIGKILL while frames pour in (thousands a second) leaves whole lines, the rows of
// the first frames; --append continues the file (numbering on after its last
// row) and cuts a broken last line off first.
void LoggerEndToEndTest::killedRunLeavesWholeRowsThatAppendContinues() {
    QFETCH(QString, format);
    const QList<QByteArray> bursts = countingBursts(20000);
    WindowRecorder window;
    for (const QByteArray& b : bursts)
        window.feed(b);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.") + format);
    const QStringList output{"--format", format, "--output", path};

    {
        MeterLine pty;
        QVERIFY(pty.isValid());
        LoggerProcess logger(QStringList{"--port", pty.slavePath()} + output);
        QVERIFY(logger.waitForOutputOpen(path));
        QElapsedTimer pouring;
        pouring.start();
        QVERIFY(pour(pty, bursts, [&] { return rowsIn(path, format) >= 500; }));
        const qint64 ms = std::max<qint64>(1, pouring.elapsed());
        logger.kill(); // SIGKILL, frames still coming
        QVERIFY(logger.waitForExit());
        QCOMPARE(logger.exitStatus(), QProcess::CrashExit);
        qInfo("killed after %d rows at %lld frames/s", rowsIn(path, format), 500LL * 1000 / ms);
    }
    const LogFile killed = readLog(path, format);
    QVERIFY2(killed.problem.isEmpty(), qPrintable(killed.problem));
    QVERIFY(killed.whole);
    QVERIFY(killed.rows.size() >= 500);
    QCOMPARE(describeLog(killed), describeWindow(window, format, std::int64_t(killed.rows.size())));

    // The next run appends.
    const QByteArray more = frames({kA, kB, kC});
    WindowRecorder next;
    next.feed(more);
    {
        MeterLine pty;
        QVERIFY(pty.isValid());
        LoggerProcess logger(QStringList{"--port", pty.slavePath(), "--append", "--count", "3"} +
                             output);
        QVERIFY(logger.waitForOutputOpen(path));
        QVERIFY(pty.send(more));
        QVERIFY(logger.waitForExit());
        QCOMPARE(logger.exitCode(), 0);
        QCOMPARE(logger.errors(), QString());
    }
    const LogFile appended = readLog(path, format);
    QVERIFY2(appended.problem.isEmpty(), qPrintable(appended.problem));
    QVERIFY(appended.bytes.startsWith(killed.bytes));
    QCOMPARE(appended.headers, format == QLatin1String("jsonl") ? 0 : 1);
    const auto killedRows = std::int64_t(killed.rows.size());
    QCOMPARE(describeLog(appended),
             describeLog(killed) + describeWindow(next, format, -1, killedRows + 1));

    // A last line cut by hand, as a power cut leaves it.
    const qsizetype lastLine = appended.bytes.lastIndexOf('\n', appended.bytes.size() - 2) + 1;
    const qsizetype broken = (appended.bytes.size() - lastLine) / 2;
    QVERIFY(QFile::resize(path, lastLine + broken));
    const QByteArray last = frames({kD});
    WindowRecorder third;
    third.feed(last);
    {
        MeterLine pty;
        QVERIFY(pty.isValid());
        LoggerProcess logger(QStringList{"--port", pty.slavePath(), "--append", "--count", "1"} +
                             output);
        QVERIFY(logger.waitForOutputOpen(path));
        QVERIFY(pty.send(last));
        QVERIFY(logger.waitForExit());
        QCOMPARE(logger.exitCode(), 0);
        QCOMPARE(logger.errors(),
                 QStringLiteral("qm45-log: warning: %1: its last line was cut off (%2 bytes, left "
                                "by an earlier run that was stopped while writing); removed, "
                                "every whole row kept\n")
                     .arg(path)
                     .arg(broken));
    }
    const LogFile repaired = readLog(path, format);
    QVERIFY2(repaired.problem.isEmpty(), qPrintable(repaired.problem));
    QVERIFY(repaired.bytes.startsWith(appended.bytes.left(lastLine)));
    QCOMPARE(describeLog(repaired), describeLog(killed) +
                                        describeWindow(next, format, 2, killedRows + 1) +
                                        describeWindow(third, format, -1, killedRows + 3));
}

// A file-size limit stands in for a full disk: the run ends with status 1
// and says so, the file keeps every row that fitted and ends with a whole
// line.
void LoggerEndToEndTest::fullDiskEndsTheRunKeepingEveryWholeRow() {
    static constexpr rlim_t kLimit = 1000;
    const QList<QByteArray> bursts = countingBursts(2000);
    WindowRecorder window;
    for (const QByteArray& b : bursts)
        window.feed(b);

    MeterLine pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    LoggerProcess logger({"--port", pty.slavePath(), "--format", "text", "--output", path}, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(pour(pty, bursts, [&] { return !logger.holds(pty.slavePath()); }));
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(logger.exitCode(), 1);

    const LogFile log = readLog(path, QStringLiteral("text"));
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QVERIFY(log.whole);
    QVERIFY(!log.rows.empty());
    QCOMPARE(describeLog(log),
             describeWindow(window, QStringLiteral("text"), std::int64_t(log.rows.size())));
    // Every row that fitted is there: the next would not have.
    const QList<QByteArray> lines = window.textFileLines();
    QVERIFY(lines.size() > qsizetype(log.rows.size()) + 1);
    QVERIFY(log.bytes.size() <= qsizetype(kLimit));
    QVERIFY(log.bytes.size() + lines[qsizetype(log.rows.size()) + 1].size() + 1 >
            qsizetype(kLimit));

    const QString errors = logger.errors();
    const QRegularExpression told(
        QStringLiteral("^qm45-log: error: %1: cannot write: [^;\n]+; the (\\d+) rows before it "
                       "are kept in %1\n$")
            .arg(QRegularExpression::escape(path)));
    const QRegularExpressionMatch m = told.match(errors);
    QVERIFY2(m.hasMatch(), qPrintable(errors));
    QCOMPARE(m.captured(1).toInt(), int(log.rows.size()));
}

void LoggerEndToEndTest::startFailuresLeaveTheOutputAlone_data() {
    QTest::addColumn<QStringList>("arguments"); // {port} a working port, {dir} a folder
    QTest::addColumn<QByteArray>("existing");   // the output before the run; null: none
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errors"); // all of standard error

    int absentCom = 0;
    for (int n = 4; n >= 1 && absentCom == 0; --n) {
        if (LinuxSerialPortDirectory().devicePathFor(n).isEmpty())
            absentCom = n;
    }
    const QByteArray textLog =
        QByteArray(TextDataFile::kHeader) + "1\t09:05:03\tDC\t1.0001\tV\tpass\r\n";
    const QByteArray csvLog =
        kCsvHeader +
        "\r\n2026-12-10T09:05:03.000+00:00,1,09:05:03,DC,1.0001,V,1.0001,true,pass\r\n";
    const QChar separator = LimitNumber::separatorOf(LinuxSystemLocale().decimalMark());
    const QString mark =
        separator.isNull() ? QStringLiteral("none, whole numbers only") : QString(separator);

    QTest::newRow("no such device")
        << QStringList{"--port", "{dir}/ttyNone", "--output", "{dir}/run.txt"} << QByteArray() << 3
        << QStringLiteral("qm45-log: error: {dir}/ttyNone cannot be opened: the device does not "
                          "exist. If it is a USB adapter, check that it is plugged in.\n");
    QTest::newRow("no such COM port")
        << QStringList{"--port", QStringLiteral("COM%1").arg(absentCom), "--output",
                       "{dir}/run.txt"}
        << QByteArray() << (absentCom > 0 ? 3 : -1)
        << QStringLiteral("qm45-log: error: COM %1 cannot be opened: there is no COM %1 on this "
                          "machine.\n")
               .arg(absentCom);
    QTest::newRow("limit not a number")
        << QStringList{"--port", "{port}", "--high", "4x", "--output", "{dir}/run.txt"}
        << QByteArray() << 2
        << QStringLiteral("qm45-log: error: --high 4x is not a number as this machine writes them "
                          "(decimal mark: %1)\n")
               .arg(mark);
    QTest::newRow("a log without --append")
        << QStringList{"--port", "{port}", "--output", "{dir}/run.txt"} << textLog << 1
        << QStringLiteral("qm45-log: error: {dir}/run.txt: the file exists and holds data; give "
                          "--append to continue it, or choose another name\n");
    QTest::newRow("--append text to csv")
        << QStringList{"--port",   "{port}",   "--format",     "text",
                       "--append", "--output", "{dir}/run.txt"}
        << csvLog << 1
        << QStringLiteral("qm45-log: error: {dir}/run.txt: holds data of another format; choose "
                          "another file\n");
    QTest::newRow("--append jsonl to text")
        << QStringList{"--port",   "{port}",   "--format",     "jsonl",
                       "--append", "--output", "{dir}/run.txt"}
        << textLog << 1
        << QStringLiteral("qm45-log: error: {dir}/run.txt: holds data of another format; choose "
                          "another file\n");
}

void LoggerEndToEndTest::startFailuresLeaveTheOutputAlone() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, existing);
    QFETCH(int, status);
    QFETCH(QString, errors);
    if (status < 0)
        QSKIP("every port from COM 1 to COM 4 is present on this machine");

    MeterLine pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto place = [&](QString text) {
        return text.replace(QStringLiteral("{port}"), pty.slavePath())
            .replace(QStringLiteral("{dir}"), dir.path());
    };
    for (QString& a : arguments)
        a = place(a);
    errors = place(errors);
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    if (!existing.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(existing), existing.size());
    }

    LoggerProcess logger(arguments);
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(logger.exitCode(), status);
    QCOMPARE(logger.errors(), errors);
    if (existing.isNull()) {
        QVERIFY(!QFile::exists(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), existing);
    }
}

void LoggerEndToEndTest::lostPortEndsTheRunWithExitOnLoss_data() {
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("the pty") << false;
    QTest::newRow("a link to the pty, removed") << true;
}

void LoggerEndToEndTest::lostPortEndsTheRunWithExitOnLoss() {
    QFETCH(bool, throughLink);
    MeterLine pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString port = pty.slavePath();
    const QString link = dir.filePath(QStringLiteral("meter"));
    if (throughLink) {
        QVERIFY(QFile::link(pty.slavePath(), link));
        port = link;
    }
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    LoggerProcess logger({"--port", port, "--format", "csv", "--output", path, "--exit-on-loss"});
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(pty.send(frames({kA})));
    QVERIFY(waitForRows(path, QStringLiteral("csv"), 1));

    pty.closeMaster();
    if (throughLink)
        QVERIFY(QFile::remove(link));
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(logger.exitCode(), 4);
    QCOMPARE(logger.errors(), QStringLiteral("qm45-log: error: %1 has gone: the serial port was "
                                             "disconnected. The connection is closed.\n")
                                  .arg(port));
    const LogFile log = readLog(path, QStringLiteral("csv"));
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QCOMPARE(log.rows.size(), std::size_t(1));
}

// Without --exit-on-loss the run waits for the port; a new meter published
// under the same link is opened and recorded, numbering going on.
void LoggerEndToEndTest::lostPortIsAwaitedAndRecordingGoesOn() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("meter"));
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    auto first = std::make_unique<MeterLine>();
    QVERIFY(first->isValid());
    QVERIFY(QFile::link(first->slavePath(), link));

    const QByteArray before = frames({kA, kB});
    const QByteArray after = frames({kC});
    WindowRecorder window;
    window.feed(before);
    window.feed(after);

    LoggerProcess logger({"--port", link, "--format", "csv", "--output", path});
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(first->send(before));
    QVERIFY(waitForRows(path, QStringLiteral("csv"), 2));

    // The meter goes, and its link with it.
    QVERIFY(QFile::remove(link));
    first.reset();
    const QString gone = QStringLiteral("qm45-log: warning: %1 has gone: the serial port was "
                                        "disconnected. The connection is closed. Waiting for it "
                                        "to return.\n")
                             .arg(link);
    QVERIFY(logger.waitForErrors(gone));

    MeterLine second;
    QVERIFY(second.isValid());
    QVERIFY(QFile::link(second.slavePath(), link));
    const QString back = QStringLiteral("qm45-log: %1 is back; recording goes on.\n").arg(link);
    QVERIFY2(logger.waitForErrors(back), qPrintable(logger.errors()));
    QVERIFY(second.send(after));
    QVERIFY(waitForRows(path, QStringLiteral("csv"), 3));
    logger.signal(SIGTERM);
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitCode(), 0);
    QCOMPARE(logger.errors(), gone + back);

    const LogFile log = readLog(path, QStringLiteral("csv"));
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QCOMPARE(describeLog(log), describeWindow(window, QStringLiteral("csv")));
}

// Rejected frames and line noise cost a warning (one a minute), never the
// run: the reading after them is recorded.
void LoggerEndToEndTest::badFramesNeverStopTheRun() {
    MeterLine pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    // Repeats off: the good reading after the bad ones may be sent more than
    // once before one of them arrives in a read of its own.
    LoggerProcess logger(
        {"--port", pty.slavePath(), "--format", "csv", "--output", path, "--no-repeat"});
    QVERIFY(logger.waitForOutputOpen(path));
    QVERIFY(pty.send(frames({kA})));
    QVERIFY(waitForRows(path, QStringLiteral("csv"), 1));

    // Rejected frames in reads of their own, each after a carriage return that
    // ends whatever came before; then a burst of line noise.
    for (int i = 0; i < 10; ++i) {
        QVERIFY(pty.send("\r\n" + frame(kRejected).chopped(1)));
        QTest::qWait(60); // the logger polls its port every 50 ms
    }
    QVERIFY(pty.send(QByteArray("\x00\xFF\x3A\x9D\x55\xE3", 6)));
    QVERIFY(logger.waitForErrors(
        QStringLiteral("qm45-log: warning: bad frame from %1: ").arg(pty.slavePath())));
    // What the noise left behind and a read cut short by a rejected frame may
    // cost the good reading's first copies: it is sent until it makes its row.
    const QByteArray good = "\n" + frame(kB).chopped(1); // line feed, payload, carriage return
    QVERIFY(QTest::qWaitFor(
        [&] {
            return pty.send(good) &&
                   QTest::qWaitFor([&] { return rowsIn(path, QStringLiteral("csv")) >= 2; }, 500);
        },
        kDeadlineMs));
    logger.signal(SIGINT);
    QVERIFY(logger.waitForExit());
    QCOMPARE(logger.exitCode(), 0);
    QCOMPARE(logger.errors().count(QLatin1Char('\n')), 1);

    WindowRecorder window;
    window.recorder().setRepeatSet(false);
    window.feed(frames({kA}));
    window.feed(frames({kB}));
    const LogFile log = readLog(path, QStringLiteral("csv"));
    QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
    QCOMPARE(describeLog(log), describeWindow(window, QStringLiteral("csv")));
}

QTEST_GUILESS_MAIN(LoggerEndToEndTest)
#include "LoggerEndToEndTest.moc"
