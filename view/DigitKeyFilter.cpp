#include "view/DigitKeyFilter.h"

#include <QKeyEvent>

namespace qm45 {

bool DigitKeyFilter::passes(const QKeyEvent& event) {
    const int key = event.key();
    if (key == Qt::Key_Backspace || key == Qt::Key_Delete || key == Qt::Key_Tab || key == Qt::Key_Backtab)
        return true;
    const bool chord = (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
    // Typing chords such as the paste shortcut would bring in any text.
    if (chord && key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return false;
    const QString text = event.text();
    if (text.isEmpty())
        return true;
    if (chord)
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

bool DigitKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && !passes(*static_cast<QKeyEvent*>(event)))
        return true;
    return QObject::eventFilter(watched, event);
}

} // namespace qm45
