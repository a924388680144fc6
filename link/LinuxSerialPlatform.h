#pragma once

#include "link/SerialPlatform.h"

#include <cstdint>

namespace qm45 {

// The serial platform on Linux: termios2 on a non-blocking descriptor.
// Kernel termios headers clash with <termios.h>, so this header names no
// termios type and its implementation includes only the kernel's.
class LinuxSerialPlatform final : public SerialPlatform {
public:
    // The termios2 fields a settings record turns into. The flags use the
    // kernel's bit values, which are the ones <termios.h> exposes as well.
    struct TermiosFields {
        std::uint32_t iflag = 0;
        std::uint32_t oflag = 0;
        std::uint32_t cflag = 0; // includes the speed bits (Bnnn or BOTHER)
        std::uint32_t lflag = 0;
        std::uint32_t speed = 0; // c_ispeed and c_ospeed
    };

    [[nodiscard]] static TermiosFields termiosFieldsFor(const SerialLineSettings& settings);

    [[nodiscard]] Handle openExclusive(const QString& device) override;
    void setLineState(Handle handle, const SerialLineSettings& settings) override;
    void purge(Handle handle, bool input, bool output) override;
    void setQueueSizes(Handle handle, std::uint32_t inputSize, std::uint32_t outputSize) override;
    void setTimeouts(Handle handle, const SerialTimeouts& timeouts) override;
    [[nodiscard]] std::int32_t read(Handle handle, std::uint8_t* buffer,
                                    std::int32_t capacity) override;
    void close(Handle handle) override;
};

} // namespace qm45
