// qm45-log: records a meter's readings without a window.

#include "app/LoggerConsole.h"
#include "app/LoggerOptions.h"
#include "app/LoggerRun.h"
#include "app/TerminationSignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef QM45_VERSION
#define QM45_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const qm45::LoggerCommand command = qm45::parseLoggerCommand(arguments);
    switch (command.action) {
    case qm45::LoggerCommand::Action::Help:
        std::fputs(qm45::loggerUsage(), stdout);
        return std::fflush(stdout) == 0 ? 0 : qm45::kLoggerFailed;
    case qm45::LoggerCommand::Action::Version:
        std::printf("qm45-log %s\n", QM45_VERSION);
        return std::fflush(stdout) == 0 ? 0 : qm45::kLoggerFailed;
    case qm45::LoggerCommand::Action::Mistake:
        std::fprintf(stderr, "qm45-log: %s\nTry 'qm45-log --help' for more information.\n",
                     command.mistake.c_str());
        return qm45::kLoggerMistake;
    case qm45::LoggerCommand::Action::Run:
        break;
    }

    // A reader of standard output that goes away shows as EPIPE, not as a
    // signal that ends the run half-way.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm45-log"));
    qm45::TerminationSignals termination;
    qm45::LoggerConsole console = qm45::LoggerConsole::standardError();
    // Rows on the same terminal would run into the status line: then only
    // warnings and errors go to standard error.
    const bool rowsToTerminal = command.options.toStandardOutput() && ::isatty(STDOUT_FILENO);
    if (rowsToTerminal && console.terminal())
        console = qm45::LoggerConsole(STDERR_FILENO, false);
    qm45::LoggerRun run(command.options, {}, console);
    QObject::connect(&termination, &qm45::TerminationSignals::received, &run,
                     [&run] { run.stop(); });
    QObject::connect(&run, &qm45::LoggerRun::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    if (const std::optional<int> status = run.start())
        return *status;
    return QCoreApplication::exec();
}
