#include "record/RowLogFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qm45 {

namespace {

constexpr auto kSyncInterval = std::chrono::seconds(1);
// The repair reads the file's end backwards in blocks of this size; a file of
// any length costs a few reads.
constexpr std::int64_t kScanBlock = 64 * 1024;

bool readAt(int fd, std::int64_t offset, char* buffer, std::int64_t length) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, buffer, static_cast<std::size_t>(length), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        offset += n;
        length -= n;
    }
    return true;
}

// The offset just past the last '\n' before `end`, or -1 when there is none
// at or after `floor`.
std::int64_t lastLineEnd(int fd, std::int64_t floor, std::int64_t end, bool& readError) {
    std::vector<char> block;
    while (end > floor) {
        const std::int64_t start = std::max(floor, end - kScanBlock);
        block.resize(static_cast<std::size_t>(end - start));
        if (!readAt(fd, start, block.data(), end - start)) {
            readError = true;
            return -1;
        }
        for (std::int64_t i = end - start; i > 0; --i) {
            if (block[static_cast<std::size_t>(i - 1)] == '\n')
                return start + i;
        }
        end = start;
    }
    return -1;
}

bool holdsNul(int fd, std::int64_t begin, std::int64_t end, bool& readError) {
    std::vector<char> block;
    for (std::int64_t at = begin; at < end; at += kScanBlock) {
        const std::int64_t length = std::min(kScanBlock, end - at);
        block.resize(static_cast<std::size_t>(length));
        if (!readAt(fd, at, block.data(), length)) {
            readError = true;
            return false;
        }
        if (std::find(block.begin(), block.end(), '\0') != block.end())
            return true;
    }
    return false;
}

} // namespace

RowLogFile::Platform RowLogFile::systemPlatform() {
    return {[] { return std::chrono::steady_clock::now(); },
            [](int fd) { return ::fdatasync(fd); }};
}

RowLogFile::RowLogFile(Platform platform) : platform_(std::move(platform)) {}

RowLogFile::~RowLogFile() {
    std::string ignored;
    (void)close(ignored);
}

std::string RowLogFile::describe(const char* what, int errorNumber) const {
    std::string text = path_.empty() ? std::string("output") : path_;
    text += ": ";
    if (what && *what) {
        text += what;
        text += ": ";
    }
    text += std::strerror(errorNumber);
    return text;
}

bool RowLogFile::open(const std::string& path, Mode mode, std::string_view header,
                      const FormatCheck& sameFormat, std::string& error) {
    if (fd_ >= 0 && !close(error))
        return false;
    path_ = path;
    repairedBytes_ = 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = describe("cannot open", errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        ::close(fd);
        return false;
    }
    std::int64_t size = st.st_size;

    if (size > 0 && mode == Mode::New) {
        error = path + ": the file exists and holds data; append to it, or choose another name";
        ::close(fd);
        return false;
    }

    if (size > 0) {
        // The first line tells the format. A file holding no whole first line
        // is ours only if it is the start of our header, cut by a crash.
        bool readError = false;
        std::int64_t firstEnd = -1;
        {
            std::vector<char> head(static_cast<std::size_t>(std::min(size, kScanBlock)));
            if (!readAt(fd, 0, head.data(), static_cast<std::int64_t>(head.size()))) {
                error = describe("cannot read", errno ? errno : EIO);
                ::close(fd);
                return false;
            }
            const auto newline = std::find(head.begin(), head.end(), '\n');
            bool ours = false;
            if (newline != head.end()) {
                firstEnd = (newline - head.begin()) + 1;
                std::string_view first(head.data(), static_cast<std::size_t>(firstEnd - 1));
                if (!first.empty() && first.back() == '\r')
                    first.remove_suffix(1);
                ours = first.find('\0') == std::string_view::npos &&
                       (!sameFormat || sameFormat(first));
            } else if (size <= kScanBlock) {
                // Headerless formats: the one broken row must look like a row.
                const std::string_view start(head.data(), head.size());
                ours = header.empty() ? sameFormat && sameFormat(start)
                                      : header.substr(0, start.size()) == start;
            }
            if (!ours) {
                error = path + ": holds data of another format; choose another file";
                ::close(fd);
                return false;
            }
        }

        std::int64_t keep = 0;
        if (firstEnd > 0) {
            // Cut a last line without its end, then any whole lines at the end
            // that hold NUL bytes, never the first line.
            keep = lastLineEnd(fd, firstEnd, size, readError);
            if (keep < 0)
                keep = firstEnd;
            while (!readError && keep > firstEnd) {
                const std::int64_t lineStart =
                    std::max(firstEnd, lastLineEnd(fd, firstEnd, keep - 1, readError));
                if (!holdsNul(fd, lineStart, keep, readError))
                    break;
                keep = lineStart;
            }
        }
        if (readError) {
            error = describe("cannot read", errno ? errno : EIO);
            ::close(fd);
            return false;
        }
        if (keep < size) {
            if (::ftruncate(fd, keep) != 0 || platform_.sync(fd) != 0) {
                error = describe("cannot repair the file's end", errno);
                ::close(fd);
                return false;
            }
            repairedBytes_ = size - keep;
            size = keep;
        }
    }

    fd_ = fd;
    ownsFd_ = true;
    regular_ = true;
    size_ = size;
    lastSync_ = platform_.now();
    if (size_ == 0 && !header.empty() && !writeLine(header, error)) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

std::string RowLogFile::lastLine() const {
    constexpr std::int64_t kLongestRow = 4096;
    if (fd_ < 0 || !regular_ || !ownsFd_ || size_ == 0)
        return {};
    const std::int64_t start = std::max<std::int64_t>(0, size_ - kLongestRow);
    std::string tail(static_cast<std::size_t>(size_ - start), '\0');
    if (!readAt(fd_, start, tail.data(), size_ - start))
        return {};
    if (tail.back() != '\n')
        return {};
    tail.pop_back();
    if (!tail.empty() && tail.back() == '\r')
        tail.pop_back();
    const std::size_t newline = tail.rfind('\n');
    if (newline == std::string::npos && start > 0)
        return {};
    return newline == std::string::npos ? tail : tail.substr(newline + 1);
}

bool RowLogFile::openStream(int fd, std::string_view header, std::string& error) {
    if (fd_ >= 0 && !close(error))
        return false;
    path_.clear();
    repairedBytes_ = 0;
    struct stat st {};
    regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    fd_ = fd;
    ownsFd_ = false;
    size_ = 0;
    lastSync_ = platform_.now();
    return header.empty() || writeLine(header, error);
}

bool RowLogFile::writeAll(std::string_view bytes, std::string& error) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = describe("cannot write", n < 0 ? errno : EIO);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool RowLogFile::writeLine(std::string_view line, std::string& error) {
    if (fd_ < 0) {
        error = describe("cannot write", EBADF);
        return false;
    }
    if (!writeAll(line, error)) {
        // Half a line must not stay behind: the next run appends after it.
        // Should even that fail, the next --append cuts it off.
        if (regular_ && ownsFd_ && ::ftruncate(fd_, size_) != 0)
            error += "; the part written could not be taken back";
        return false;
    }
    size_ += static_cast<std::int64_t>(line.size());
    dirty_ = true;
    return syncIfDue(error);
}

bool RowLogFile::sync(std::string& error) {
    dirty_ = false;
    lastSync_ = platform_.now();
    if (!regular_)
        return true;
    if (platform_.sync(fd_) != 0) {
        error = describe("cannot write to disk", errno);
        return false;
    }
    return true;
}

bool RowLogFile::syncIfDue(std::string& error) {
    if (fd_ < 0 || !dirty_ || platform_.now() - lastSync_ < kSyncInterval)
        return true;
    return sync(error);
}

bool RowLogFile::close(std::string& error) {
    if (fd_ < 0)
        return true;
    bool ok = !dirty_ || sync(error);
    if (ownsFd_ && ::close(fd_) != 0 && ok) {
        error = describe("cannot close", errno);
        ok = false;
    }
    fd_ = -1;
    ownsFd_ = false;
    return ok;
}

} // namespace qm45
