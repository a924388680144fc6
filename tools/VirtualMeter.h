#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace qm45::sim {

// The meter's end of a serial cable: a pseudo-terminal whose slave side the
// program opens as its serial port, and a clock that hands out frame slots.
class VirtualMeter {
public:
    explicit VirtualMeter(double framesPerSecond);
    ~VirtualMeter();
    VirtualMeter(const VirtualMeter&) = delete;
    VirtualMeter& operator=(const VirtualMeter&) = delete;

    // Creates the pseudo-terminal and puts its line into raw 2400 baud 8N1.
    // On failure returns false and says why in `error`.
    [[nodiscard]] bool open(std::string& error);

    // The slave side, e.g. /dev/pts/3: the serial port the program opens.
    [[nodiscard]] const std::string& portPath() const { return portPath_; }

    struct SendResult {
        std::size_t written = 0;        // bytes of this frame now on the line
        std::size_t staleDiscarded = 0; // unread earlier bytes thrown away first
    };

    // Never blocks: whatever the line does not take is lost, as it would be from
    // a meter that transmits whether or not anybody listens.
    [[nodiscard]] SendResult send(const std::vector<std::uint8_t>& frame);

    // Sleeps until the next frame slot. Returns false, early, once `stop` is set by
    // a signal handler.
    [[nodiscard]] bool waitForNextFrame(const volatile std::sig_atomic_t& stop);

    // Closing the pty hangs the line up, and the program would lose what it has not
    // read yet. Waits until the queue is empty, at most `timeoutMs`; false if it
    // was not emptied in time or `stop` got set.
    [[nodiscard]] bool waitUntilRead(long timeoutMs, const volatile std::sig_atomic_t& stop);

private:
    void discardIncoming();

    long periodNs_;
    std::size_t backlogLimit_;
    int master_ = -1;
    int slave_ = -1;
    std::string portPath_;
    timespec due_{};
    bool clockStarted_ = false;
};

} // namespace qm45::sim
