#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm45 {

// The command line of qm45-log, the recorder that runs without a window.
struct LoggerOptions {
    enum class Format { Text, Csv, Jsonl };

    // The link: a serial port by the window's number (1 to 4) or by its
    // device path, or the USB cable.
    int comNumber = 0;      // 1..4 when --port COMn
    std::string devicePath; // when --port /dev/...
    bool usb = false;

    std::string high = "4000";
    std::string low = "-4000";
    bool repeat = true;
    std::optional<std::int32_t> intervalSeconds; // timed sampling; otherwise every frame
    std::optional<std::int64_t> limit;           // rows; otherwise unlimited

    Format format = Format::Text;
    std::string output; // empty or "-": standard output
    bool append = false;
    [[nodiscard]] bool toStandardOutput() const { return output.empty() || output == "-"; }

    std::optional<std::chrono::seconds> duration;
    std::optional<std::int64_t> count;
    bool exitOnLoss = false;
};

// What the command line asks for: a run, the help or the version text, or a
// mistake to report (with exit status 2).
struct LoggerCommand {
    enum class Action { Run, Help, Version, Mistake };
    Action action = Action::Run;
    LoggerOptions options;
    std::string mistake; // for Mistake: one line saying what is wrong
};

[[nodiscard]] LoggerCommand parseLoggerCommand(const std::vector<std::string>& arguments);

// "90s", "45m", "8h", "3d", or a number of seconds. Empty when the text is
// none of these, zero, or too long to count in seconds.
[[nodiscard]] std::optional<std::chrono::seconds> parseDuration(const std::string& text);

[[nodiscard]] const char* loggerUsage();

} // namespace qm45
