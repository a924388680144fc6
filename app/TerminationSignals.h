#pragma once

#include <QObject>

namespace qm45 {

// SIGINT, SIGTERM and SIGHUP (Ctrl+C in a terminal, logout, shutdown, kill)
// arrive as the `received` signal from the event loop, where the program can
// end in order instead of dying half-way. A SIGHUP that was ignored when the
// program started (nohup) is left ignored. One at a time
// per program; the default actions come back when it is destroyed.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the signals could not be caught (a message said so).
    [[nodiscard]] bool active() const { return fds_[0] >= 0; }

signals:
    // Once for each signal that arrived, in order.
    void received(int signal);

private:
    void take();

    int fds_[2] = {-1, -1};
    bool caught_[3] = {false, false, false}; // SIGINT, SIGTERM, SIGHUP
};

} // namespace qm45
