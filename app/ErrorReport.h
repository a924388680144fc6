#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QWidget;

namespace qm45 {

class GatedDialogs;
class SteadyClock;

// Shows an error that ended a handler in a modal box with the error icon.
//
// Every failure reaches the user, in the order it happened: its box waits
// behind the box or dialog of ours that is open (see ModalGate) and opens
// from the top of the event loop, never from inside the handler that failed.
//
// Repeats: an error text is shown once; the same text again only once 5
// seconds have passed since its box closed, or after a frame was accepted
// when its box closed at least 2 seconds before. A text already waiting or on
// screen is not queued a second time. So a meter that sends nothing but
// rejected frames shows one box and then leaves the user at least 5 seconds
// after each box to reach "COM Disconnect" or "Quit"; one that mixes good and
// bad frames (a poor cable) leaves at least 2 seconds; a different failure (a
// file that could not be saved) is never held back by a frame error.
class ErrorReport : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kRepeatAfterMs = 5000;
    static constexpr std::int64_t kRepeatAfterFrameMs = 2000;

    ErrorReport(GatedDialogs& dialogs, const SteadyClock& clock, QWidget* parent);

    void report(const QString& text);
    // A frame was decoded without an error: errors whose box closed at least
    // kRepeatAfterFrameMs ago may be reported again.
    void frameAccepted();

    // An error box of this report is waiting or open.
    [[nodiscard]] bool isShowing() const;

private:
    enum class State { Waiting, Open, Closed };
    struct Seen {
        State state = State::Waiting;
        std::int64_t closedAtMs = 0;
    };

    GatedDialogs& dialogs_;
    const SteadyClock& clock_;
    QPointer<QWidget> parent_;
    QHash<QString, Seen> seen_;
};

} // namespace qm45
