#pragma once

#include "link/SerialPlatform.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>

namespace qm45 {

// The serial platform on Linux: termios2 on a non-blocking descriptor.
// Kernel termios headers clash with <termios.h>, so this header names no
// termios type and its implementation includes only the kernel's.
//
// A port is refused as in use while a live process holds a UUCP lock file for
// it (LCK..<name> in the lock directories), while another opener holds it
// exclusively, and when the kernel writes its console to it. While a port is
// open this object holds its lock file (when a lock directory lets it write
// one) and removes it on close and at destruction.
class LinuxSerialPlatform final : public SerialPlatform {
public:
    struct Paths {
        // Searched in order for locks; ours goes into the first that takes it.
        QStringList lockDirs = {QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};
        QString sysfsTtyRoot = QStringLiteral("/sys/class/tty");
        QString procRoot = QStringLiteral("/proc");
    };

    LinuxSerialPlatform();
    explicit LinuxSerialPlatform(Paths paths);
    ~LinuxSerialPlatform() override;
    LinuxSerialPlatform(const LinuxSerialPlatform&) = delete;
    LinuxSerialPlatform& operator=(const LinuxSerialPlatform&) = delete;

    // The tty names the kernel console reaches right now ("ttyS0", "tty1"):
    // the console's active list, with tty0 resolved to the active VT.
    [[nodiscard]] QStringList consoleNames() const;
    // The lock file this object holds for an open handle; empty when it holds none.
    [[nodiscard]] QString lockFileOf(Handle handle) const;

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

    [[nodiscard]] OpenResult openExclusive(const QString& device) override;
    void setLineState(Handle handle, const SerialLineSettings& settings) override;
    void purge(Handle handle, bool input, bool output) override;
    void setQueueSizes(Handle handle, std::uint32_t inputSize, std::uint32_t outputSize) override;
    void setTimeouts(Handle handle, const SerialTimeouts& timeouts) override;
    [[nodiscard]] std::int32_t read(Handle handle, std::uint8_t* buffer,
                                    std::int32_t capacity) override;
    void close(Handle handle) override;

private:
    struct LockHolder {
        std::int64_t pid = 0;
        QString command;
    };
    // A live process other than this one holding a lock for the device.
    [[nodiscard]] std::optional<LockHolder> liveLockHolder(const QString& lockName) const;
    // Writes our lock; empty when no lock directory takes it. Sets `taken` when a
    // live process won the race for it meanwhile.
    [[nodiscard]] QString createLock(const QString& lockName, std::optional<LockHolder>& taken);

    Paths paths_;
    std::map<Handle, QString> locks_; // open handle -> lock file we wrote
};

} // namespace qm45
