#pragma once

#include <QString>

namespace qm45 {

// Answers which device "COM n" opens right now. Ports come and go (USB
// adapters, the virtual meter), so the answer may change between two calls.
class SerialPortDirectory {
public:
    virtual ~SerialPortDirectory() = default;

    // comNumber counts from 1. Empty when there is no such port.
    [[nodiscard]] virtual QString devicePathFor(int comNumber) const = 0;
};

} // namespace qm45
