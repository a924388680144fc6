#include "link/LinuxSerialPortDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace qm45 {

namespace {

struct NumberedName {
    QString prefix;
    qulonglong number = 0;
    QString name;
};

// "ttyUSB10" -> ("ttyUSB", 10). Names that do not end in digits are not serial
// ports of any kind we list.
bool splitTrailingNumber(const QString& name, NumberedName& out) {
    qsizetype digitsAt = name.size();
    while (digitsAt > 0 && name.at(digitsAt - 1).isDigit())
        --digitsAt;
    if (digitsAt == name.size() || digitsAt == 0)
        return false;
    bool ok = false;
    const qulonglong number = name.mid(digitsAt).toULongLong(&ok);
    if (!ok)
        return false;
    out = {name.left(digitsAt), number, name};
    return true;
}

// Numeric within a prefix: ttyUSB2 before ttyUSB10.
void sortNumerically(std::vector<NumberedName>& names) {
    std::sort(names.begin(), names.end(), [](const NumberedName& a, const NumberedName& b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return a.number < b.number;
    });
}

// The 8250 driver registers ttyS0..ttyS31 whether or not a UART answers; the
// sysfs "type" attribute is 0 (PORT_UNKNOWN) for the ones that are not there.
bool isPresentBuiltInUart(const QString& ttyDir) {
    QFile type(ttyDir + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const int value = type.readAll().trimmed().toInt(&ok);
    return ok && value != 0;
}

bool isCharacterDevice(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}

} // namespace

LinuxSerialPortDirectory::LinuxSerialPortDirectory(QString sysfsTtyRoot, QString devRoot)
    : sysfsTtyRoot_(std::move(sysfsTtyRoot)), devRoot_(std::move(devRoot)) {}

QStringList LinuxSerialPortDirectory::presentPorts() const {
    std::vector<NumberedName> builtIn;
    std::vector<NumberedName> otherUarts;
    std::vector<NumberedName> usb;
    std::vector<NumberedName> acm;
    std::vector<NumberedName> virtualPorts;

    const QDir sysfs(sysfsTtyRoot_);
    for (const QString& name : sysfs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        NumberedName entry;
        if (!splitTrailingNumber(name, entry))
            continue;
        const QString ttyDir = sysfs.filePath(name);
        if (entry.prefix == QLatin1String("ttyS")) {
            if (isPresentBuiltInUart(ttyDir))
                builtIn.push_back(entry);
        } else if (entry.prefix == QLatin1String("ttyUSB")) {
            usb.push_back(entry);
        } else if (entry.prefix == QLatin1String("ttyACM")) {
            acm.push_back(entry);
        } else if (QFileInfo::exists(ttyDir + QStringLiteral("/device"))) {
            // Virtual consoles and pseudo-terminals have no device link.
            otherUarts.push_back(entry);
        }
    }

    // The virtual meter publishes its pseudo-terminal as a symlink /dev/ttyV<N>
    // (as socat's pty,link= does). A link left behind by a stopped simulator
    // dangles and is skipped.
    const QDir dev(devRoot_);
    const QStringList virtualCandidates = dev.entryList(
        {QStringLiteral("ttyV*")}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : virtualCandidates) {
        NumberedName entry;
        if (splitTrailingNumber(name, entry) && entry.prefix == QLatin1String("ttyV") &&
            isCharacterDevice(dev.filePath(name)))
            virtualPorts.push_back(entry);
    }

    QStringList ports;
    for (std::vector<NumberedName>* group : {&builtIn, &otherUarts, &usb, &acm, &virtualPorts}) {
        sortNumerically(*group);
        for (const NumberedName& entry : *group)
            ports.append(dev.filePath(entry.name));
    }
    return ports;
}

QString LinuxSerialPortDirectory::devicePathFor(int comNumber) const {
    const QStringList ports = presentPorts();
    if (comNumber < 1 || comNumber > ports.size())
        return {};
    return ports.at(comNumber - 1);
}

} // namespace qm45
