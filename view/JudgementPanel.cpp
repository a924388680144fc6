#include "view/JudgementPanel.h"

#include "record/Fonts.h"
#include "view/LampPictures.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace qm45 {

VerdictCircle::VerdictCircle(QWidget* parent)
    : QWidget(parent), fill_(JudgementPanel::paleYellow()) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void VerdictCircle::setFill(const QColor& colour) {
    if (colour == fill_)
        return;
    fill_ = colour;
    update();
}

void VerdictCircle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill_);
    // A circle of the box's smaller side, centred in the box; the box's
    // other side is free room, not part of the lamp.
    const int side = std::min(width(), height());
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));
}

namespace {
QLabel* label(QWidget* parent, const QString& text, const QFont& font, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    l->adjustSize();
    l->move(x, y);
    return l;
}

// A limit edit keeps its selection when the focus leaves it, so the user can
// still see which part of a limit the next keystrokes would replace.
class LimitEdit final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusOutEvent(QFocusEvent* event) override {
        const int start = selectionStart();
        const int length = selectionLength();
        const bool cursorAtStart = cursorPosition() == start;
        QLineEdit::focusOutEvent(event);
        if (start < 0 || length <= 0 || hasSelectedText())
            return;
        if (cursorAtStart)
            setSelection(start + length, -length);
        else
            setSelection(start, length);
    }
};

template <typename Edit = QLineEdit>
QLineEdit* edit(QWidget* parent, const QString& text, const QFont& font, const QRect& geometry) {
    auto* e = new Edit(text, parent);
    e->setFont(font);
    e->setGeometry(geometry);
    return e;
}
} // namespace

JudgementPanel::JudgementPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Panel4"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(3);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    const QFont small = Fonts::arial(11, true);
    T1_HI = label(this, QStringLiteral("Set High Limit:"), small, 16, 16);
    T1HI = edit<LimitEdit>(this, QStringLiteral("4000"), small, QRect(112, 12, 57, 22));
    T1_Value = label(this, QStringLiteral("Measure Value:"), small, 16, 52);
    T1VALUE = edit(this, QStringLiteral("0"), Fonts::arial(21, true), QRect(112, 43, 81, 32));
    T1_LO = label(this, QStringLiteral("Set Low Limit:"), small, 16, 84);
    T1LO = edit<LimitEdit>(this, QStringLiteral("-4000"), small, QRect(112, 84, 57, 22));
    for (QLineEdit* e : {T1HI, T1LO})
        e->setToolTip(QStringLiteral("Please enter a number here."));

    QPalette value = T1VALUE->palette();
    value.setColor(QPalette::Base, paleYellow());
    T1VALUE->setPalette(value);

    Shape1 = new VerdictCircle(this);
    Shape1->setGeometry(192, 8, 113, 97);

    judge = new QLabel(this);
    judge->setFont(Fonts::sansSerif(24, true));
    judge->setAutoFillBackground(true);
    judge->setTextFormat(Qt::PlainText);
    QPalette verdict = judge->palette();
    verdict.setColor(QPalette::Window, paleYellow());
    judge->setPalette(verdict);
    judge->move(216, 40);
    judge->resize(0, 0);

    CONok = new QLabel(this);
    CONok->setObjectName(QStringLiteral("CONok"));
    CONok->setPixmap(QPixmap::fromImage(LampPictures::lit()));
    CONok->setGeometry(310, 13, 25, 24);
    CONok->hide();
    CONokN = new QLabel(this);
    CONokN->setObjectName(QStringLiteral("CONokN"));
    CONokN->setPixmap(QPixmap::fromImage(LampPictures::dark()));
    CONokN->setGeometry(310, 13, 25, 20);

    T1_HI->setObjectName(QStringLiteral("T1_HI"));
    T1HI->setObjectName(QStringLiteral("T1HI"));
    T1_Value->setObjectName(QStringLiteral("T1_Value"));
    T1VALUE->setObjectName(QStringLiteral("T1VALUE"));
    T1_LO->setObjectName(QStringLiteral("T1_LO"));
    T1LO->setObjectName(QStringLiteral("T1LO"));
    Shape1->setObjectName(QStringLiteral("Shape1"));
    judge->setObjectName(QStringLiteral("judge"));
}

} // namespace qm45
