#include "link/AccessHelp.h"

#include <QFileInfo>

#include <cstring>

namespace qm45 {

namespace {
const QString kRuleName = QStringLiteral("70-qm45-usb-to-serial.rules");
}

QStringList udevRuleFiles() {
    return {QStringLiteral("/usr/lib/udev/rules.d/") + kRuleName,
            QStringLiteral("/lib/udev/rules.d/") + kRuleName,
            QStringLiteral("/etc/udev/rules.d/") + kRuleName};
}

QString cableAccessHelp(const QStringList& ruleFiles) {
    const QString found = QStringLiteral(
        "The USB interface cable was found, but it cannot be opened for reading and writing.\n\n");
    for (const QString& file : ruleFiles) {
        if (QFileInfo::exists(file)) {
            return found +
                   QStringLiteral(
                       "The rule that gives you access to it is installed (%1), but it has not "
                       "reached the cable yet: unplug the cable and plug it in again.\n\n"
                       "If that does not help, log in at the machine itself, or ask for "
                       "membership of the group plugdev (then log out and in again).")
                       .arg(file);
        }
    }
    return found + QStringLiteral(
                       "Give your user access to it by installing the udev rule that comes with "
                       "this program, once, from the top of its source tree:\n\n"
                       "    sudo sh scripts/install-udev-rule.sh\n\n"
                       "Then unplug the cable and plug it in again. (Installed as a package, the "
                       "program brings this rule with it.)");
}

QString serialPortName(const QString& port, const QString& device) {
    return device.isEmpty() || device == port ? port : QStringLiteral("%1 (%2)").arg(port, device);
}

QString serialOpenFailureText(const QString& port, const SerialOpenFailure& failure) {
    if (failure.device.isEmpty())
        return QStringLiteral("%1 cannot be opened: there is no %1 on this machine.").arg(port);
    const QString head =
        serialPortName(port, failure.device) + QStringLiteral(" cannot be opened: ");
    switch (failure.reason) {
    case SerialOpenError::NoSuchDevice:
        return head + QStringLiteral("the device does not exist. If it is a USB adapter, check "
                                     "that it is plugged in.");
    case SerialOpenError::NotSerial:
        return head + QStringLiteral("it is not a serial port.");
    case SerialOpenError::InUse:
        if (failure.pid > 0 && !failure.command.isEmpty())
            return head + QStringLiteral("it is in use by another program (process %1, %2). Close "
                                         "that program and try again.")
                              .arg(failure.pid)
                              .arg(failure.command);
        if (failure.pid > 0)
            return head + QStringLiteral("it is in use by another program (process %1). Close "
                                         "that program and try again.")
                              .arg(failure.pid);
        return head +
               QStringLiteral("it is in use by another program. Close that program and try again.");
    case SerialOpenError::Console:
        return head + QStringLiteral("it is the system console. Choose another port.");
    case SerialOpenError::NoPermission:
        return head + QStringLiteral("you have no permission to use it.\n\n"
                                     "Serial ports belong to the group dialout. Add your user to "
                                     "it:\n\n"
                                     "    sudo usermod -aG dialout $USER\n\n"
                                     "then log out and log in again for it to take effect.");
    case SerialOpenError::None:
    case SerialOpenError::Other:
        break;
    }
    if (failure.errorCode != 0)
        return head + QString::fromLocal8Bit(std::strerror(failure.errorCode)) + QLatin1Char('.');
    return head + QStringLiteral("the system refused it.");
}

QString serialPortLostText(const QString& port, const QString& device) {
    return QStringLiteral(
               "%1 has gone: the serial port was disconnected. The connection is closed.")
        .arg(serialPortName(port, device));
}

} // namespace qm45
