#include "link/AccessHelp.h"

#include <QFileInfo>

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

} // namespace qm45
