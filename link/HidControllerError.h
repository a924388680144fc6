#pragma once

#include <stdexcept>
#include <string>

namespace qm45 {

// The HID layer's error: "Only one THidDeviceController allowed per program",
// "device cannot be opened", "device cannot be identified".
class EControllerError : public std::runtime_error {
public:
    explicit EControllerError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace qm45
