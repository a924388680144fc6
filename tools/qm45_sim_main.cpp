// qm45-sim: a virtual QM45C/D/E meter on a pseudo-terminal, for running the
// program without the hardware. See tools/README.md.

#include "link/LinuxSerialPortDirectory.h"
#include "tools/ListenerView.h"
#include "tools/PortLink.h"
#include "tools/Scenario.h"
#include "tools/VirtualMeter.h"

#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;

extern "C" void requestStop(int) {
    gStop = 1;
}

constexpr double kDefaultRate = 20.0;
constexpr double kMaxRate = 1000.0;
constexpr long kFinalDrainMs = 1000;
constexpr const char* kLinkPrefix = "/dev/ttyV";

struct Options {
    double rate = kDefaultRate;
    bool once = false;
    bool verbose = false;
    bool link = true;
    bool rejectedOnly = false;
    std::string linkPath; // empty: the lowest free /dev/ttyV<N>
};

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: qm45-sim [--once] [--verbose] [--rate FPS] [--rejected] [--link PATH | --no-link]\n"
                 "\n"
                 "Plays a QM45C/D/E meter's frames on a pseudo-terminal. The first line on\n"
                 "stdout is \"qm45-sim: <port>\".\n"
                 "\n"
                 "  --once        play the scenario once and exit (default: loop until stopped)\n"
                 "  --verbose     print every frame sent and what the program decodes from it\n"
                 "  --rate FPS    frames per second (default 20, as the meter)\n"
                 "  --rejected    send only frames the program rejects (range digit B)\n"
                 "  --link PATH   publish the port as the symbolic link PATH\n"
                 "  --no-link     do not publish the port (default: /dev/ttyV<N>, lowest free N,\n"
                 "                when /dev is writable)\n"
                 "  --help        show this text\n");
}

// Returns the exit code when the program should end right away.
[[nodiscard]] std::optional<int> parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) {
                return true;
            }
            if (i + 1 >= argc) {
                std::fprintf(stderr, "qm45-sim: %s needs a value\n", arg.c_str());
                return false;
            }
            value = argv[++i];
            return true;
        };

        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return EXIT_SUCCESS;
        } else if (arg == "--once" && !hasValue) {
            options.once = true;
        } else if (arg == "--verbose" && !hasValue) {
            options.verbose = true;
        } else if (arg == "--rejected" && !hasValue) {
            options.rejectedOnly = true;
        } else if (arg == "--no-link" && !hasValue) {
            options.link = false;
        } else if (arg == "--link") {
            if (!takeValue()) {
                return 2;
            }
            if (value.empty()) {
                std::fprintf(stderr, "qm45-sim: --link needs a path\n");
                return 2;
            }
            options.linkPath = value;
        } else if (arg == "--rate") {
            if (!takeValue()) {
                return 2;
            }
            char* end = nullptr;
            const double rate = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(rate) || rate <= 0 ||
                rate > kMaxRate) {
                std::fprintf(stderr,
                             "qm45-sim: --rate wants frames per second, above 0 and at most %g\n",
                             kMaxRate);
                return 2;
            }
            options.rate = rate;
        } else {
            std::fprintf(stderr, "qm45-sim: unknown option %s\n", argv[i]);
            printUsage(stderr);
            return 2;
        }
    }
    return std::nullopt;
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a stop must also get us out of a write to a stdout nobody
    // drains. SIGPIPE (stdout piped into a reader that quit) stops us too, rather
    // than killing us with the link still in /dev.
    action.sa_flags = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaction(signal, &action, nullptr);
    }
}

[[nodiscard]] std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char pair[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    return text;
}

[[nodiscard]] bool publish(const Options& options, const std::string& port,
                           qm45::sim::PortLink& link) {
    std::string error;
    if (!options.linkPath.empty()) {
        if (!link.create(options.linkPath, port, error)) {
            std::fprintf(stderr, "qm45-sim: cannot link the port: %s\n", error.c_str());
            return false;
        }
    } else if (access("/dev", W_OK) != 0) {
        std::fprintf(stderr, "qm45-sim: /dev is not writable, the port is not linked as %sN\n",
                     kLinkPrefix);
        return true;
    } else if (!link.createNumbered(kLinkPrefix, port, error)) {
        std::fprintf(stderr, "qm45-sim: cannot link the port: %s\n", error.c_str());
        return true;
    }
    std::printf("qm45-sim: linked as %s\n", link.path().c_str());
    // The window numbers ports COM 1 to COM 4 in the machine's own order; say
    // which one to pick there.
    const QStringList ports = qm45::LinuxSerialPortDirectory().presentPorts();
    const auto index = ports.indexOf(QString::fromStdString(link.path()));
    if (index >= 0 && index < 4) {
        std::printf("qm45-sim: the program lists it as COM %d\n", static_cast<int>(index) + 1);
    } else if (index >= 4) {
        std::printf("qm45-sim: the program lists it as COM %d, beyond the COM 1 to COM 4 it offers\n",
                    static_cast<int>(index) + 1);
    }
    std::fflush(stdout);
    return true;
}

int run(const Options& options) {
    qm45::sim::Scenario scenario(options.rejectedOnly ? qm45::sim::Scenario::rejectedSteps()
                                                      : qm45::sim::Scenario::standardSteps());
    qm45::sim::VirtualMeter meter(options.rate);
    std::string error;
    if (!meter.open(error)) {
        std::fprintf(stderr, "qm45-sim: cannot open a pseudo-terminal: %s\n", error.c_str());
        return EXIT_FAILURE;
    }
    std::printf("qm45-sim: %s\n", meter.portPath().c_str());
    std::fflush(stdout);

    qm45::sim::PortLink link;
    if (options.link && !publish(options, meter.portPath(), link)) {
        return EXIT_FAILURE;
    }

    const auto& steps = scenario.steps();
    std::printf("qm45-sim: %zu steps, %d frames per loop, %.1f s at %g frames/s\n", steps.size(),
                scenario.framesPerLoop(), scenario.framesPerLoop() / options.rate, options.rate);
    std::fflush(stdout);

    qm45::sim::ListenerView listener;
    long long sent = 0;
    while (!gStop) {
        const qm45::sim::Frame frame = scenario.next();
        const auto result = meter.send(frame.bytes);
        ++sent;

        if (options.verbose) {
            const qm45::sim::Step& step = steps[frame.step];
            if (frame.indexInStep == 0) {
                std::printf("-- step %zu/%zu: %.*s, %d frame%s\n", frame.step + 1, steps.size(),
                            static_cast<int>(step.what.size()), step.what.data(), step.frames,
                            step.frames == 1 ? "" : "s");
            }
            if (result.staleDiscarded > 0) {
                std::printf("   (nobody is reading: %zu unread bytes discarded)\n",
                            result.staleDiscarded);
            }
            const std::vector<std::uint8_t> onLine(frame.bytes.begin(),
                                                   frame.bytes.begin() +
                                                       static_cast<std::ptrdiff_t>(result.written));
            std::string outcome;
            if (result.written == 0) {
                outcome = "not sent: the line is full";
            } else {
                outcome = listener.feed(onLine);
                if (result.written < frame.bytes.size()) {
                    outcome += "  (only " + std::to_string(result.written) + " of " +
                               std::to_string(frame.bytes.size()) + " bytes sent)";
                }
            }
            std::printf("%6lld  %-33s -> %s\n", sent, hexBytes(frame.bytes).c_str(),
                        outcome.c_str());
            std::fflush(stdout);
        }

        if (options.once && sent == scenario.framesPerLoop()) {
            // The last frame's slot first: the kernel may not yet have moved its
            // bytes to where waitUntilRead can see them.
            if (meter.waitForNextFrame(gStop) && !meter.waitUntilRead(kFinalDrainMs, gStop)) {
                std::fprintf(stderr, "qm45-sim: not all frames were read before exit\n");
            }
            break;
        }
        if (!meter.waitForNextFrame(gStop)) {
            break;
        }
    }
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto exitCode = parseOptions(argc, argv, options)) {
        return *exitCode;
    }
    installSignalHandlers();
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qm45-sim: %s\n", e.what());
        return EXIT_FAILURE;
    }
}
