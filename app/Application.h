#pragma once

#include "app/ExceptionText.h"

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <utility>

namespace qm45 {

// Where an error that escaped a handler goes: the main window's error report
// once the window exists. Before that (or with no handler) the text goes to
// standard error. Main thread only.
using UncaughtErrorHandler = std::function<void(const QString& text)>;
void setUncaughtErrorHandler(UncaughtErrorHandler handler);
[[nodiscard]] bool hasUncaughtErrorHandler();

// Hands the exception being handled (call it inside a catch block) to the
// handler. Never throws.
void reportCurrentException() noexcept;

// A slot or callback that ends with a report instead of letting an exception
// unwind through Qt's signal machinery or a driver's poll. Use it for the
// window's own connections: connect(button, &QPushButton::clicked, this,
// guarded([this] { ... })).
template <typename F> auto guarded(F f) {
    return [f = std::move(f)](auto&&... args) -> decltype(f(std::forward<decltype(args)>(args)...),
                                                          void()) {
        try {
            f(std::forward<decltype(args)>(args)...);
        } catch (...) {
            reportCurrentException();
        }
    };
}

// The application object: an exception that escapes an event handler ends
// only that handler and is reported; the program goes on with the next event.
//
// SIGINT, SIGTERM and SIGHUP (Ctrl+C in a terminal, logout, shutdown, kill)
// end the event loop as "Quit" does, so that the window is destroyed in
// order: the serial port is closed and its lock file removed.
class Application final : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    ~Application() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qm45
