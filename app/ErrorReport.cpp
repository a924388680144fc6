#include "app/ErrorReport.h"

#include "app/SteadyClock.h"
#include "view/GatedDialogs.h"

#include <QWidget>

namespace qm45 {

ErrorReport::ErrorReport(GatedDialogs& dialogs, const SteadyClock& clock, QWidget* parent)
    : QObject(parent), dialogs_(dialogs), clock_(clock), parent_(parent) {}

void ErrorReport::report(const QString& text) {
    const std::int64_t now = clock_.nowMs();
    // Texts whose quiet time is over are forgotten, which also keeps the
    // list short.
    for (auto it = seen_.begin(); it != seen_.end();) {
        if (it->state == State::Closed && now - it->closedAtMs >= kRepeatAfterMs)
            it = seen_.erase(it);
        else
            ++it;
    }
    if (seen_.contains(text))
        return;
    seen_.insert(text, Seen{});
    dialogs_.post([self = QPointer<ErrorReport>(this), text](Dialogs& inner) {
        if (!self)
            return;
        self->seen_[text].state = State::Open;
        inner.error(self->parent_, text);
        if (!self)
            return;
        Seen& seen = self->seen_[text];
        seen.state = State::Closed;
        seen.closedAtMs = self->clock_.nowMs();
    });
}

void ErrorReport::frameAccepted() {
    const std::int64_t now = clock_.nowMs();
    for (auto it = seen_.begin(); it != seen_.end();) {
        if (it->state == State::Closed && now - it->closedAtMs >= kRepeatAfterFrameMs)
            it = seen_.erase(it);
        else
            ++it;
    }
}

bool ErrorReport::isShowing() const {
    for (const Seen& seen : seen_) {
        if (seen.state != State::Closed)
            return true;
    }
    return false;
}

} // namespace qm45
