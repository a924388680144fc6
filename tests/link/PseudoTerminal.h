#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace qm45::test {

// A pseudo-terminal pair standing in for a meter on a serial line: bytes
// written to the master arrive at the slave device, which the driver opens.
// The test keeps a descriptor of its own on the slave to inspect the line.
class PseudoTerminal {
public:
    // The slave's termios2 as the kernel reports it.
    struct LineState {
        bool valid = false;
        std::uint32_t iflag = 0;
        std::uint32_t oflag = 0;
        std::uint32_t cflag = 0;
        std::uint32_t lflag = 0;
        std::uint32_t ispeed = 0;
        std::uint32_t ospeed = 0;
        std::uint8_t vmin = 0xFF;
        std::uint8_t vtime = 0xFF;
    };

    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    [[nodiscard]] bool isValid() const { return master_ >= 0 && slave_ >= 0; }
    [[nodiscard]] QString slavePath() const { return slavePath_; }

    [[nodiscard]] bool writeToMaster(const QByteArray& bytes);
    // The meter side goes away: the slave then reads EIO or end of file.
    void closeMaster();

    // Bytes received on the slave and not yet read by anyone; -1 on error.
    [[nodiscard]] int queuedInput() const;
    [[nodiscard]] LineState lineState() const;
    // TIOCGEXCL on the slave: 1 exclusive, 0 not, -1 unknown.
    [[nodiscard]] int exclusiveFlag() const;
    // TIOCNXCL from the test's own descriptor, leaving other locks in place.
    void clearExclusiveFlag();

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

} // namespace qm45::test
