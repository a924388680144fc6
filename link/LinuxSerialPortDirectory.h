#pragma once

#include "link/SerialPortDirectory.h"

#include <QStringList>

namespace qm45 {

// Numbers the machine's serial ports the way Windows hands out COM numbers:
// built-in UARTs first, then other hardware UARTs, USB adapters, USB modems
// (ACM) and last the virtual ports /dev/ttyV<N>. COM n is the n-th of them.
// The list is read afresh on every call; it is a handful of directory reads.
class LinuxSerialPortDirectory final : public SerialPortDirectory {
public:
    explicit LinuxSerialPortDirectory(QString sysfsTtyRoot = QStringLiteral("/sys/class/tty"),
                                      QString devRoot = QStringLiteral("/dev"));

    // Device paths in COM order.
    [[nodiscard]] QStringList presentPorts() const;
    [[nodiscard]] QString devicePathFor(int comNumber) const override;

private:
    QString sysfsTtyRoot_;
    QString devRoot_;
};

} // namespace qm45
