#pragma once

#include "link/SerialPortDirectory.h"

#include <QMap>

namespace qm45::test {

// COM numbers mapped to whatever paths the test chooses; unmapped ones are absent.
class FixedPortDirectory final : public SerialPortDirectory {
public:
    void setDevice(int comNumber, const QString& path) { devices_[comNumber] = path; }
    [[nodiscard]] QString devicePathFor(int comNumber) const override {
        return devices_.value(comNumber);
    }

private:
    QMap<int, QString> devices_;
};

} // namespace qm45::test
