#include "record/RowLogFile.h"

#include "DataFileSizeLimit.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <string>

using qm45::RowLogFile;

namespace {

const std::string kHeader = "No\tTime\r\n";

bool textFormat(std::string_view first) {
    return first == "No\tTime";
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A clock the test moves by hand, and a count of the syncs asked for.
struct FakeMachine {
    std::chrono::steady_clock::time_point now{};
    int syncs = 0;
    RowLogFile::Platform platform() {
        return {[this] { return now; },
                [this](int) {
                    ++syncs;
                    return 0;
                }};
    }
};

} // namespace

class RowLogFileTest : public QObject {
    Q_OBJECT

private slots:
    void newFileGetsHeaderAndWholeLines();
    void newModeRefusesAFileHoldingData();
    void appendRepairsWhatACrashLeft_data();
    void appendRepairsWhatACrashLeft();
    void appendRefusesAnotherFormat_data();
    void appendRefusesAnotherFormat();
    void headerlessFormatChecksItsFirstRow();
    void fullDiskKeepsEveryWholeLine();
    void syncsAtMostOnceASecondAndAtClose();
    void streamWritesWithoutSyncing();
};

void RowLogFileTest::newFileGetsHeaderAndWholeLines() {
    QTemporaryDir dir;
    const QString path = dir.filePath("run.txt");
    RowLogFile log;
    std::string error;
    QVERIFY2(log.open(path.toStdString(), RowLogFile::Mode::New, kHeader, textFormat, error),
             error.c_str());
    QVERIFY(log.writeLine("1\t10:00:00\r\n", error));
    QVERIFY(log.writeLine("2\t10:00:01\r\n", error));
    // On disk before the file is closed: a kill now loses nothing written.
    QCOMPARE(contents(path), QByteArray("No\tTime\r\n1\t10:00:00\r\n2\t10:00:01\r\n"));
    QVERIFY(log.close(error));
    QCOMPARE(log.repairedBytes(), 0);
}

void RowLogFileTest::newModeRefusesAFileHoldingData() {
    QTemporaryDir dir;
    const QString path = dir.filePath("run.txt");
    put(path, "No\tTime\r\n1\t10:00:00\r\n");
    RowLogFile log;
    std::string error;
    QVERIFY(!log.open(path.toStdString(), RowLogFile::Mode::New, kHeader, textFormat, error));
    QVERIFY2(error.find("run.txt") != std::string::npos, error.c_str());
    QCOMPARE(contents(path), QByteArray("No\tTime\r\n1\t10:00:00\r\n"));

    // An empty file is as good as none.
    put(path, "");
    QVERIFY2(log.open(path.toStdString(), RowLogFile::Mode::New, kHeader, textFormat, error),
             error.c_str());
    QVERIFY(log.close(error));
    QCOMPARE(contents(path), QByteArray(kHeader.c_str()));
}

void RowLogFileTest::appendRepairsWhatACrashLeft_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<int>("repaired"); // bytes cut off the end
    // The last whole line after the repair: where a continued log takes its numbering from.
    QTest::addColumn<QByteArray>("lastLine");

    const QByteArray header(kHeader.c_str());
    const QByteArray rows = header + "1\t10:00:00\r\n2\t10:00:01\r\n";
    const QByteArray last = "2\t10:00:01";
    QTest::newRow("whole file") << rows << rows << 0 << last;
    QTest::newRow("missing file") << QByteArray() << header << 0 << QByteArray("No\tTime");
    QTest::newRow("last line cut") << rows + "3\t10:0" << rows << 6 << last;
    QTest::newRow("cut between CR and LF") << rows + "3\t10:00:02\r" << rows << 11 << last;
    QTest::newRow("power cut: NUL block at the end")
        << rows + QByteArray(300, '\0') << rows << 300 << last;
    QTest::newRow("power cut: NUL lines at the end")
        << rows + QByteArray(20, '\0') + "\n" + QByteArray(5, '\0') + "\r\n"
        << rows << 28 << last;
    QTest::newRow("only the header's start")
        << QByteArray("No\tTi") << header << 5 << QByteArray("No\tTime");
    QTest::newRow("header only") << header << header << 0 << QByteArray("No\tTime");
    QTest::newRow("header, then a cut row")
        << header + "1\t1" << header << 3 << QByteArray("No\tTime");
    QTest::newRow("LF line ends") << header + "1\t10:00:00\n2\t10:00:01\n"
                                  << header + "1\t10:00:00\n2\t10:00:01\n"
                                  << 0 << last;
    const QByteArray longRow = "3\t" + QByteArray(5000, 'x') + "\r\n";
    QTest::newRow("a last line too long to be a row")
        << rows + longRow << rows + longRow << 0 << QByteArray();
}

void RowLogFileTest::appendRepairsWhatACrashLeft() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, kept);
    QFETCH(int, repaired);
    QFETCH(QByteArray, lastLine);
    QTemporaryDir dir;
    const QString path = dir.filePath("run.txt");
    if (!before.isEmpty())
        put(path, before);

    RowLogFile log;
    std::string error;
    QVERIFY2(log.open(path.toStdString(), RowLogFile::Mode::Append, kHeader, textFormat, error),
             error.c_str());
    QCOMPARE(log.repairedBytes(), std::int64_t(repaired));
    QCOMPARE(QByteArray::fromStdString(log.lastLine()), lastLine);
    QVERIFY(log.writeLine("9\t11:00:00\r\n", error));
    QCOMPARE(QByteArray::fromStdString(log.lastLine()), QByteArray("9\t11:00:00"));
    QVERIFY(log.close(error));
    QCOMPARE(contents(path), kept + "9\t11:00:00\r\n");
}

void RowLogFileTest::appendRefusesAnotherFormat_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::newRow("another header") << QByteArray("time,value\r\n10:00:00,1\r\n");
    QTest::newRow("binary") << QByteArray("\x7f"
                                          "ELF\x02\x01\x01\0\0\0",
                                          10);
    QTest::newRow("one long line") << QByteArray(70000, 'x');
    QTest::newRow("not the header's start") << QByteArray("Nope");
}

void RowLogFileTest::appendRefusesAnotherFormat() {
    QFETCH(QByteArray, before);
    QTemporaryDir dir;
    const QString path = dir.filePath("other.txt");
    put(path, before);
    RowLogFile log;
    std::string error;
    QVERIFY(!log.open(path.toStdString(), RowLogFile::Mode::Append, kHeader, textFormat, error));
    QVERIFY2(error.find("another format") != std::string::npos, error.c_str());
    QCOMPARE(contents(path), before);
}

void RowLogFileTest::headerlessFormatChecksItsFirstRow() {
    QTemporaryDir dir;
    const QString path = dir.filePath("run.jsonl");
    const auto jsonRow = [](std::string_view first) { return first.substr(0, 2) == "{\""; };
    RowLogFile log;
    std::string error;

    put(path, "{\"no\":1}\n{\"no\":2");
    QVERIFY2(log.open(path.toStdString(), RowLogFile::Mode::Append, {}, jsonRow, error),
             error.c_str());
    QVERIFY(log.writeLine("{\"no\":3}\n", error));
    QVERIFY(log.close(error));
    QCOMPARE(contents(path), QByteArray("{\"no\":1}\n{\"no\":3}\n"));

    put(path, "{\"no");
    QVERIFY2(log.open(path.toStdString(), RowLogFile::Mode::Append, {}, jsonRow, error),
             error.c_str());
    QVERIFY(log.close(error));
    QCOMPARE(contents(path), QByteArray());

    put(path, "no,time\r\n");
    QVERIFY(!log.open(path.toStdString(), RowLogFile::Mode::Append, {}, jsonRow, error));
}

void RowLogFileTest::fullDiskKeepsEveryWholeLine() {
    QTemporaryDir dir;
    const QString path = dir.filePath("full.txt");
    const std::string line = "12345\t10:00:00\r\n"; // 16 bytes
    std::string error;
    int written = 0;
    bool failed = false;
    {
        RowLogFile log;
        QVERIFY(log.open(path.toStdString(), RowLogFile::Mode::New, kHeader, textFormat, error));
        // The limit falls in the middle of a line.
        DataFileSizeLimit limit(kHeader.size() + 10 * line.size() + 7);
        QVERIFY(limit.active());
        for (int i = 0; i < 20 && !failed; ++i) {
            if (log.writeLine(line, error))
                ++written;
            else
                failed = true;
        }
    }
    QVERIFY(failed);
    QCOMPARE(written, 10);
    QVERIFY2(error.find("full.txt") != std::string::npos &&
                 error.find("File too large") != std::string::npos,
             error.c_str());
    const QByteArray onDisk = contents(path);
    QCOMPARE(onDisk.size(), qsizetype(kHeader.size() + 10 * line.size()));
    QVERIFY(onDisk.endsWith("\r\n"));
}

void RowLogFileTest::syncsAtMostOnceASecondAndAtClose() {
    QTemporaryDir dir;
    FakeMachine machine;
    RowLogFile log(machine.platform());
    std::string error;
    QVERIFY(log.open(dir.filePath("s.txt").toStdString(), RowLogFile::Mode::New, kHeader,
                     textFormat, error));
    const int afterOpen = machine.syncs;

    for (int i = 0; i < 50; ++i) {
        QVERIFY(log.writeLine("1\t10:00:00\r\n", error));
        machine.now += std::chrono::milliseconds(10); // 100 rows a second
    }
    QCOMPARE(machine.syncs, afterOpen); // half a second: none yet
    for (int i = 0; i < 60; ++i) {
        QVERIFY(log.writeLine("1\t10:00:00\r\n", error));
        machine.now += std::chrono::milliseconds(10);
    }
    QCOMPARE(machine.syncs, afterOpen + 1);

    // No rows come: the idle timer's call syncs what is pending once.
    machine.now += std::chrono::seconds(2);
    QVERIFY(log.syncIfDue(error));
    QCOMPARE(machine.syncs, afterOpen + 2);
    QVERIFY(log.syncIfDue(error));
    QCOMPARE(machine.syncs, afterOpen + 2);

    QVERIFY(log.writeLine("1\t10:00:00\r\n", error));
    QVERIFY(log.close(error));
    QCOMPARE(machine.syncs, afterOpen + 3);
}

void RowLogFileTest::streamWritesWithoutSyncing() {
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    FakeMachine machine;
    {
        RowLogFile log(machine.platform());
        std::string error;
        QVERIFY(log.openStream(fds[1], "h\n", error));
        machine.now += std::chrono::seconds(5);
        QVERIFY(log.writeLine("row\n", error));
        QVERIFY(log.close(error));
    }
    ::close(fds[1]);
    char buffer[16] = {};
    QCOMPARE(::read(fds[0], buffer, sizeof buffer), ssize_t(6));
    QCOMPARE(QByteArray(buffer, 6), QByteArray("h\nrow\n"));
    ::close(fds[0]);
    QCOMPARE(machine.syncs, 0);
}

QTEST_APPLESS_MAIN(RowLogFileTest)
#include "RowLogFileTest.moc"
