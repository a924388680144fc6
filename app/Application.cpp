#include "app/Application.h"

#include "app/TerminationSignals.h"

#include <cstdio>

namespace qm45 {

namespace {
UncaughtErrorHandler& handlerSlot() {
    static UncaughtErrorHandler handler;
    return handler;
}
} // namespace

void setUncaughtErrorHandler(UncaughtErrorHandler handler) {
    handlerSlot() = std::move(handler);
}

bool hasUncaughtErrorHandler() {
    return bool(handlerSlot());
}

void reportCurrentException() noexcept {
    try {
        const QString text = describeException(std::current_exception());
        // A copy: the handler may replace itself.
        const UncaughtErrorHandler handler = handlerSlot();
        if (handler)
            handler(text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    } catch (...) {
        // Out of memory while reporting: nothing more can be done.
    }
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    auto* termination = new TerminationSignals(this);
    connect(termination, &TerminationSignals::received, this, [] { QApplication::quit(); });
}

Application::~Application() = default;

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportCurrentException();
        return false;
    }
}

} // namespace qm45
