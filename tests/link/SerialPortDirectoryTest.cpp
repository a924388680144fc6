#include "link/LinuxSerialPortDirectory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>

using namespace qm45;

// Each test builds a fake /sys/class/tty and /dev in a temporary directory.
class SerialPortDirectoryTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root_;
    QString sysfs_;
    QString dev_;

    // A /sys/class/tty/<name> entry; `type` is the 8250 port type attribute,
    // `device` the link real hardware has.
    void addTty(const QString& name, std::optional<int> type, bool device) {
        const QString dir = sysfs_ + QLatin1Char('/') + name;
        QVERIFY(QDir().mkpath(dir));
        if (device)
            QVERIFY(QDir().mkpath(dir + QStringLiteral("/device")));
        if (type) {
            QFile file(dir + QStringLiteral("/type"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray::number(*type) + '\n');
        }
    }
    void addDevLink(const QString& name, const QString& target) {
        QVERIFY(QFile::link(target, dev_ + QLatin1Char('/') + name));
    }
    [[nodiscard]] QStringList inDev(const QStringList& names) const {
        QStringList paths;
        for (const QString& name : names)
            paths << dev_ + QLatin1Char('/') + name;
        return paths;
    }
    [[nodiscard]] LinuxSerialPortDirectory directory() const {
        return LinuxSerialPortDirectory(sysfs_, dev_);
    }

private slots:
    void init();
    void portsAreListedBuiltInThenOtherUartsThenUsbThenAcmThenVirtual();
    void numbersSortNumericallyWithinAGroup();
    void virtualPortsMustResolveToACharacterDevice();
    void comNumberPicksTheNthPort_data();
    void comNumberPicksTheNthPort();
    void everyQueryReadsTheTreeAfresh();
    void missingSysfsStillListsVirtualPorts();
};

void SerialPortDirectoryTest::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    sysfs_ = root_->filePath(QStringLiteral("sys/class/tty"));
    dev_ = root_->filePath(QStringLiteral("dev"));
    QVERIFY(QDir().mkpath(sysfs_));
    QVERIFY(QDir().mkpath(dev_));
}

void SerialPortDirectoryTest::portsAreListedBuiltInThenOtherUartsThenUsbThenAcmThenVirtual() {
    addDevLink(QStringLiteral("ttyV0"), QStringLiteral("/dev/null"));
    addTty(QStringLiteral("ttyACM0"), std::nullopt, true);
    addTty(QStringLiteral("ttyUSB0"), std::nullopt, true);
    addTty(QStringLiteral("ttyAMA0"), std::nullopt, true);
    addTty(QStringLiteral("ttyS0"), 0, true); // registered, no UART behind it
    addTty(QStringLiteral("ttyS1"), 4, true);
    addTty(QStringLiteral("ttyS2"), std::nullopt, true);
    addTty(QStringLiteral("tty1"), std::nullopt, false); // virtual console
    addTty(QStringLiteral("console"), std::nullopt, false);
    addTty(QStringLiteral("ptmx"), std::nullopt, false);

    QCOMPARE(directory().presentPorts(),
             inDev({"ttyS1", "ttyAMA0", "ttyUSB0", "ttyACM0", "ttyV0"}));
}

void SerialPortDirectoryTest::numbersSortNumericallyWithinAGroup() {
    for (const char* name : {"ttyS10", "ttyS2"})
        addTty(QLatin1String(name), 4, true);
    for (const char* name : {"ttymxc10", "ttyAMA3", "ttymxc2"})
        addTty(QLatin1String(name), std::nullopt, true);
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB1", "ttyACM11", "ttyACM3"})
        addTty(QLatin1String(name), std::nullopt, true);
    addDevLink(QStringLiteral("ttyV10"), QStringLiteral("/dev/null"));
    addDevLink(QStringLiteral("ttyV2"), QStringLiteral("/dev/null"));

    QCOMPARE(directory().presentPorts(),
             inDev({"ttyS2", "ttyS10", "ttyAMA3", "ttymxc2", "ttymxc10", "ttyUSB1", "ttyUSB2",
                    "ttyUSB10", "ttyACM3", "ttyACM11", "ttyV2", "ttyV10"}));
}

void SerialPortDirectoryTest::virtualPortsMustResolveToACharacterDevice() {
    QFile plain(root_->filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    addDevLink(QStringLiteral("ttyV0"),
               root_->filePath(QStringLiteral("gone"))); // simulator stopped
    addDevLink(QStringLiteral("ttyV1"), plain.fileName());
    addDevLink(QStringLiteral("ttyV2"), QStringLiteral("/dev/null"));
    addDevLink(QStringLiteral("ttyVx"), QStringLiteral("/dev/null"));
    addDevLink(QStringLiteral("ttyV"), QStringLiteral("/dev/null"));

    QCOMPARE(directory().presentPorts(), inDev({"ttyV2"}));
}

void SerialPortDirectoryTest::comNumberPicksTheNthPort_data() {
    QTest::addColumn<int>("comNumber");
    QTest::addColumn<QString>("expected"); // a name under the fake /dev, or empty
    QTest::newRow("COM1") << 1 << QStringLiteral("ttyUSB0");
    QTest::newRow("COM2") << 2 << QStringLiteral("ttyV0");
    QTest::newRow("COM3 beyond the list") << 3 << QString();
    QTest::newRow("COM4 beyond the list") << 4 << QString();
    QTest::newRow("COM0") << 0 << QString();
}

void SerialPortDirectoryTest::comNumberPicksTheNthPort() {
    QFETCH(int, comNumber);
    QFETCH(QString, expected);
    addTty(QStringLiteral("ttyUSB0"), std::nullopt, true);
    addDevLink(QStringLiteral("ttyV0"), QStringLiteral("/dev/null"));
    const QString expectedPath =
        expected.isEmpty() ? QString() : dev_ + QLatin1Char('/') + expected;
    QCOMPARE(directory().devicePathFor(comNumber), expectedPath);
}

void SerialPortDirectoryTest::everyQueryReadsTheTreeAfresh() {
    const LinuxSerialPortDirectory ports = directory();
    QCOMPARE(ports.devicePathFor(1), QString());
    addTty(QStringLiteral("ttyUSB0"), std::nullopt, true);
    QCOMPARE(ports.devicePathFor(1), dev_ + QStringLiteral("/ttyUSB0"));
    QVERIFY(QDir(sysfs_ + QStringLiteral("/ttyUSB0")).removeRecursively());
    QCOMPARE(ports.devicePathFor(1), QString());
}

void SerialPortDirectoryTest::missingSysfsStillListsVirtualPorts() {
    addDevLink(QStringLiteral("ttyV0"), QStringLiteral("/dev/null"));
    const LinuxSerialPortDirectory ports(root_->filePath(QStringLiteral("no-sysfs")), dev_);
    QCOMPARE(ports.presentPorts(), inDev({"ttyV0"}));
}

QTEST_APPLESS_MAIN(SerialPortDirectoryTest)
#include "SerialPortDirectoryTest.moc"
