#pragma once

#include "link/SerialPlatform.h"

#include <QString>
#include <QStringList>

namespace qm45 {

// Where the USB cable's udev rule is found when it is installed: by the
// package (under /usr/lib, or /lib on systems without a merged /usr) or by
// hand from the source tree (/etc, the administrator's place).
[[nodiscard]] QStringList udevRuleFiles();

// What to tell a user whose cable was found but may not be opened for reading
// and writing. When one of `ruleFiles` exists the rule is there and has not
// reached the cable yet: plugging it in again applies it. Otherwise the
// program runs from a build tree and the rule is to be installed once.
[[nodiscard]] QString cableAccessHelp(const QStringList& ruleFiles = udevRuleFiles());

// The port as the user chose it, with the device beside it when that is
// another: "COM 2 (/dev/ttyUSB0)", or "/dev/ttyUSB0" alone.
[[nodiscard]] QString serialPortName(const QString& portName, const QString& device);

// Why a serial port cannot be opened, for the user. `portName` is the port
// as the user chose it ("COM 2", or a device path); the device is named
// beside it when it is another.
[[nodiscard]] QString serialOpenFailureText(const QString& portName,
                                            const SerialOpenFailure& failure);
// The open port has disappeared (adapter pulled out, line hung up).
[[nodiscard]] QString serialPortLostText(const QString& portName, const QString& device);

} // namespace qm45
