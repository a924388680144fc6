#pragma once

#include <string>
#include <string_view>

namespace qm45 {

// qm45-log's standard error. On a terminal it keeps one status line at the
// bottom, redrawn in place, with warnings and errors printed above it;
// otherwise it prints warnings and errors only, one line each.
class LoggerConsole {
public:
    // `fd` is where everything goes; `terminal` whether it is a terminal (the
    // status line is shown only there).
    LoggerConsole(int fd, bool terminal);
    // Standard error, a terminal when isatty says so and TERM is not "dumb".
    static LoggerConsole standardError();

    void warning(std::string_view text);
    void error(std::string_view text);
    // Replaces the status line; nothing without a terminal.
    void status(std::string_view text);
    // Leaves the status line as it stands and moves below it.
    void finish();
    // A line of its own, without the program's name, above the status line.
    void note(std::string_view text);

    [[nodiscard]] bool terminal() const { return terminal_; }

private:
    void line(std::string_view prefix, std::string_view text);
    void put(std::string_view bytes);
    [[nodiscard]] int width() const;

    int fd_;
    bool terminal_;
    std::string status_;
};

} // namespace qm45
