#include "app/LoggerOptions.h"

#include <limits>

namespace qm45 {

namespace {

// Whole numbers from 1 up to `max`, digits only.
std::optional<std::int64_t> parseCount(const std::string& text, std::int64_t max) {
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value > (max - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (value < 1)
        return std::nullopt;
    return value;
}

std::optional<int> parseComName(const std::string& text) {
    // COM1 .. COM4, any letter case, as the window's selector names them.
    if (text.size() != 4)
        return std::nullopt;
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    if (upper(text[0]) != 'C' || upper(text[1]) != 'O' || upper(text[2]) != 'M')
        return std::nullopt;
    if (text[3] < '1' || text[3] > '4')
        return std::nullopt;
    return text[3] - '0';
}

} // namespace

std::optional<std::chrono::seconds> parseDuration(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    std::int64_t unit = 1;
    std::string digits = text;
    switch (text.back()) {
    case 's':
        unit = 1;
        digits.pop_back();
        break;
    case 'm':
        unit = 60;
        digits.pop_back();
        break;
    case 'h':
        unit = 3600;
        digits.pop_back();
        break;
    case 'd':
        unit = 86400;
        digits.pop_back();
        break;
    default:
        break;
    }
    const std::optional<std::int64_t> count =
        parseCount(digits, std::numeric_limits<std::int64_t>::max() / unit);
    if (!count)
        return std::nullopt;
    return std::chrono::seconds(*count * unit);
}

const char* loggerUsage() {
    return "usage: qm45-log (--port COM1..COM4|DEVICE | --usb) [options]\n"
           "\n"
           "Records the readings of a QM45C/D/E meter to a file or standard output,\n"
           "every row on disk as it is taken.\n"
           "\n"
           "Link:\n"
           "  --port COMn       serial port COM1 to COM4, numbered as in the window\n"
           "  --port DEVICE     serial port by its device path, e.g. /dev/ttyUSB0\n"
           "  --usb             the USB interface cable (\"USB to Serial\")\n"
           "Rules, as in the window:\n"
           "  --high NUMBER     high limit (default 4000)\n"
           "  --low NUMBER      low limit (default -4000)\n"
           "  --no-repeat       skip readings equal to the last recorded one\n"
           "  --interval SECS   one row every SECS seconds (default: every frame)\n"
           "  --limit N         stop recording after N rows (default: no limit)\n"
           "Output:\n"
           "  --format FORMAT   text (default; the window opens it), csv or jsonl\n"
           "  --output FILE     write to FILE (default: standard output)\n"
           "  --append          continue FILE, which must be of the same format\n"
           "End:\n"
           "  --duration TIME   end after TIME: 90s, 45m, 8h, 3d\n"
           "  --count N         end after N rows\n"
           "  --exit-on-loss    end when the link is lost instead of waiting for it\n"
           "\n"
           "  --help            show this text\n"
           "  --version         show the version\n";
}

LoggerCommand parseLoggerCommand(const std::vector<std::string>& arguments) {
    LoggerCommand command;
    LoggerOptions& o = command.options;
    const auto mistake = [&command](std::string text) {
        command.action = LoggerCommand::Action::Mistake;
        command.mistake = std::move(text);
        return command;
    };
    bool havePort = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        const auto flag = [&]() { return !inlineValue; };

        if (name == "--help" || name == "-h") {
            command.action = LoggerCommand::Action::Help;
            return command;
        }
        if (name == "--version") {
            command.action = LoggerCommand::Action::Version;
            return command;
        }
        if (name == "--usb" && flag()) {
            o.usb = true;
        } else if (name == "--no-repeat" && flag()) {
            o.repeat = false;
        } else if (name == "--append" && flag()) {
            o.append = true;
        } else if (name == "--exit-on-loss" && flag()) {
            o.exitOnLoss = true;
        } else if (name == "--port") {
            const auto v = value();
            if (!v || v->empty())
                return mistake("--port needs COM1 to COM4 or a device path");
            if (const auto com = parseComName(*v)) {
                o.comNumber = *com;
                o.devicePath.clear();
            } else if ((*v)[0] == '/') {
                o.devicePath = *v;
                o.comNumber = 0;
            } else {
                return mistake("--port " + *v +
                               ": name COM1 to COM4, or a device path such as /dev/ttyUSB0");
            }
            havePort = true;
        } else if (name == "--high" || name == "--low") {
            const auto v = value();
            if (!v)
                return mistake(name + " needs a number");
            (name == "--high" ? o.high : o.low) = *v;
        } else if (name == "--interval") {
            const auto v = value();
            // The window's period edit holds whole seconds; its timer counts
            // milliseconds in 32 bits.
            const auto seconds =
                v ? parseCount(*v, std::numeric_limits<std::int32_t>::max() / 1000) : std::nullopt;
            if (!seconds)
                return mistake("--interval needs a whole number of seconds, at least 1");
            o.intervalSeconds = static_cast<std::int32_t>(*seconds);
        } else if (name == "--limit" || name == "--count") {
            const auto v = value();
            const auto n =
                v ? parseCount(*v, std::numeric_limits<std::int64_t>::max()) : std::nullopt;
            if (!n)
                return mistake(name + " needs a whole number of rows, at least 1");
            (name == "--limit" ? o.limit : o.count) = *n;
        } else if (name == "--format") {
            const auto v = value();
            if (v && *v == "text")
                o.format = LoggerOptions::Format::Text;
            else if (v && *v == "csv")
                o.format = LoggerOptions::Format::Csv;
            else if (v && *v == "jsonl")
                o.format = LoggerOptions::Format::Jsonl;
            else
                return mistake("--format is text, csv or jsonl");
        } else if (name == "--output") {
            const auto v = value();
            if (!v || v->empty())
                return mistake("--output needs a file name (- for standard output)");
            o.output = *v;
        } else if (name == "--duration") {
            const auto v = value();
            const auto d = v ? parseDuration(*v) : std::nullopt;
            if (!d)
                return mistake("--duration needs a time such as 90s, 45m, 8h or 3d");
            o.duration = *d;
        } else {
            return mistake("unknown option " + arguments[i]);
        }
    }

    if (havePort && o.usb)
        return mistake("choose one link: --port or --usb");
    if (!havePort && !o.usb)
        return mistake("choose a link: --port COM1..COM4, --port DEVICE or --usb");
    if (o.append && o.toStandardOutput())
        return mistake("--append needs --output FILE");
    return command;
}

} // namespace qm45
