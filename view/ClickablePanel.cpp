#include "view/ClickablePanel.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace qm45 {

ClickablePanel::ClickablePanel(const QString& caption, QWidget* parent)
    : QFrame(parent), caption_(caption) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setCursor(Qt::PointingHandCursor);
}

void ClickablePanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

void ClickablePanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isEnabled() && rect().contains(event->position().toPoint()))
        emit clicked();
    QFrame::mouseReleaseEvent(event);
}

bool ClickablePanel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && hintProvider_) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), hintProvider_(), this);
        return true;
    }
    return QFrame::event(event);
}

} // namespace qm45
