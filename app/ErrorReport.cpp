#include "app/ErrorReport.h"

#include "view/Dialogs.h"

#include <QTimer>
#include <QWidget>

namespace qm45 {

ErrorReport::ErrorReport(Dialogs& dialogs, QWidget* parent)
    : QObject(parent), dialogs_(dialogs), parent_(parent) {}

void ErrorReport::report(const QString& text) {
    if (pending_ || showing_)
        return;
    pending_ = true;
    text_ = text;
    QTimer::singleShot(0, this, &ErrorReport::showPending);
}

void ErrorReport::showPending() {
    pending_ = false;
    showing_ = true;
    dialogs_.error(parent_, text_);
    showing_ = false;
}

} // namespace qm45
