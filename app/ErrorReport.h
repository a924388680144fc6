#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace qm45 {

class Dialogs;

// Shows an error that ended a handler in a modal box with the error icon.
//
// The box is opened from the top of the event loop, not from inside the
// handler that failed: the serial poll and the HID hand-over must unwind
// first, or the box's nested event loop would re-enter them. While a box is
// open (or about to open) further errors are dropped; a stream of bad frames
// would otherwise stack one modal box inside another, one stack frame deeper
// with each.
class ErrorReport : public QObject {
    Q_OBJECT
public:
    ErrorReport(Dialogs& dialogs, QWidget* parent);

    void report(const QString& text);
    [[nodiscard]] bool isShowing() const { return pending_ || showing_; }

private:
    void showPending();

    Dialogs& dialogs_;
    QPointer<QWidget> parent_;
    QString text_;
    bool pending_ = false;
    bool showing_ = false;
};

} // namespace qm45
