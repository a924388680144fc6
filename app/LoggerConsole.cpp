#include "app/LoggerConsole.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qm45 {

LoggerConsole::LoggerConsole(int fd, bool terminal) : fd_(fd), terminal_(terminal) {}

LoggerConsole LoggerConsole::standardError() {
    const char* term = std::getenv("TERM");
    const bool dumb = term && std::strcmp(term, "dumb") == 0;
    return LoggerConsole(STDERR_FILENO, ::isatty(STDERR_FILENO) == 1 && !dumb);
}

void LoggerConsole::put(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // nowhere left to tell anything
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

int LoggerConsole::width() const {
    winsize size{};
    if (::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void LoggerConsole::line(std::string_view prefix, std::string_view text) {
    std::string out;
    if (terminal_ && !status_.empty())
        out += "\r\x1b[K";
    out += prefix;
    out += text;
    out += '\n';
    if (terminal_)
        out += status_;
    put(out);
}

void LoggerConsole::warning(std::string_view text) {
    line("qm45-log: warning: ", text);
}

void LoggerConsole::error(std::string_view text) {
    line("qm45-log: error: ", text);
}

void LoggerConsole::note(std::string_view text) {
    line({}, text);
}

void LoggerConsole::status(std::string_view text) {
    if (!terminal_)
        return;
    // One line: cut to the terminal's width (counting UTF-8 characters) so
    // that the carriage return brings the cursor back to its start.
    const int columns = width() - 1;
    std::size_t end = 0;
    int shown = 0;
    while (end < text.size()) {
        std::size_t next = end + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
            ++next;
        if (shown == columns)
            break;
        ++shown;
        end = next;
    }
    status_.assign(text.substr(0, end));
    std::string out = "\r";
    out += status_;
    out += "\x1b[K";
    put(out);
}

void LoggerConsole::finish() {
    if (terminal_ && !status_.empty())
        put("\n");
    status_.clear();
}

} // namespace qm45
