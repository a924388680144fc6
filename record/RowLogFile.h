#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qm45 {

// A file that rows are written to one line at a time, for logs that run for
// days and must survive a kill or a power cut.
//
// - Every line goes to the kernel whole, in one write, when it is taken; the
//   file is synced to disk when the last sync is a second old or more (and by
//   syncIfDue(), which a caller's one-second timer calls while no rows come),
//   so a power cut loses at most about the last second.
// - A write that fails half-way (disk full, file-size limit) is cut back: the
//   file always ends with a whole line.
// - Appending to a file whose last line was left broken by a crash first cuts
//   that line off, and trailing lines holding NUL bytes (blocks a power cut
//   left allocated but unwritten) with it.
//
// Lines end with '\n' (CR LF or LF: the part before the last '\n' is whole).
// Not thread-safe: one thread writes.
class RowLogFile {
public:
    // What the file needs of the machine beyond plain writes. Tests count
    // syncs and set the time.
    struct Platform {
        std::function<std::chrono::steady_clock::time_point()> now;
        std::function<int(int fd)> sync; // 0 on success, else -1 with errno set
    };
    static Platform systemPlatform();

    enum class Mode {
        New,    // a file that does not exist yet or is empty: a log is never overwritten
        Append, // continue an existing file of the same format
    };

    // Whether an existing file's first line (without its line end) is of the
    // format being written. Not called for an empty or missing file.
    using FormatCheck = std::function<bool(std::string_view firstLine)>;

    explicit RowLogFile(Platform platform = systemPlatform());
    ~RowLogFile();
    RowLogFile(const RowLogFile&) = delete;
    RowLogFile& operator=(const RowLogFile&) = delete;

    // Opens (creating if needed) and, for a file that holds nothing yet,
    // writes the header (which ends with its own line end; may be empty).
    // A file that holds only the start of the header (a crash while it was
    // written) starts afresh. False with a message naming the file and the
    // reason; the file is then left as it was.
    [[nodiscard]] bool open(const std::string& path, Mode mode, std::string_view header,
                            const FormatCheck& sameFormat, std::string& error);
    // Writes to an already open descriptor that is not a regular file (a pipe,
    // a terminal): lines go out whole, nothing is synced or cut back.
    [[nodiscard]] bool openStream(int fd, std::string_view header, std::string& error);

    // One whole line, with its line end.
    [[nodiscard]] bool writeLine(std::string_view line, std::string& error);
    [[nodiscard]] bool syncIfDue(std::string& error);
    // Syncs what is written and closes. Also done by the destructor, without
    // a message.
    [[nodiscard]] bool close(std::string& error);

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    // Bytes of a broken last line that open() cut off.
    [[nodiscard]] std::int64_t repairedBytes() const { return repairedBytes_; }
    [[nodiscard]] std::int64_t size() const { return size_; }
    // The file's last whole line without its line end (the header when it
    // holds no rows); empty for a stream, an empty file or a line too long
    // to be a row.
    [[nodiscard]] std::string lastLine() const;

private:
    [[nodiscard]] bool writeAll(std::string_view bytes, std::string& error);
    [[nodiscard]] bool sync(std::string& error);
    [[nodiscard]] std::string describe(const char* what, int errorNumber) const;

    Platform platform_;
    std::string path_;
    int fd_ = -1;
    bool ownsFd_ = false;
    bool regular_ = false;
    bool dirty_ = false;
    std::int64_t size_ = 0;
    std::int64_t repairedBytes_ = 0;
    std::chrono::steady_clock::time_point lastSync_{};
};

} // namespace qm45
