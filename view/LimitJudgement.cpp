#include "view/LimitJudgement.h"

#include "view/JudgementPanel.h"
#include "record/LimitNumber.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace qm45 {

namespace {

constexpr int kSettleMs = 500;

QTimer* limitTimer(QObject* parent, const char* name) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setSingleShot(true);
    timer->setInterval(kSettleMs);
    return timer;
}

// The characters a key press types, as the edit would receive them, or
// nothing for keys that type no character (cursor movement, Delete, focus
// keys). Ctrl with a letter types that letter's control character, so
// Ctrl+C, Ctrl+V and Ctrl+X reach the filter as codes 3, 22 and 24 however
// the platform reports them.
std::optional<QString> typedCharacters(const QKeyEvent& key) {
    const Qt::KeyboardModifiers mods = key.modifiers();
    const bool control = (mods & Qt::ControlModifier) && !(mods & Qt::AltModifier);
    switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return std::nullopt;
    case Qt::Key_Backspace:
        return QString(QChar(control ? 127 : 8));
    default:
        break;
    }
    if (control && key.key() >= Qt::Key_A && key.key() <= Qt::Key_Z)
        return QString(QChar(key.key() - Qt::Key_A + 1));
    if (key.text().isEmpty())
        return std::nullopt;
    return key.text();
}

} // namespace

LimitJudgement::LimitJudgement(JudgementPanel& panel, const QString& decimalMark, QObject* parent)
    : QObject(parent), panel_(panel), separator_(LimitNumber::separatorOf(decimalMark)) {
    high_ = {panel.T1HI, limitTimer(this, "Timer3"), QStringLiteral("4000")};
    low_ = {panel.T1LO, limitTimer(this, "Timer4"), QStringLiteral("-4000")};

    connect(high_.edit, &QLineEdit::textChanged, this, &LimitJudgement::T1HIChange);
    connect(low_.edit, &QLineEdit::textChanged, this, &LimitJudgement::T1LOChange);
    connect(high_.timer, &QTimer::timeout, this, &LimitJudgement::Timer3Timer);
    connect(low_.timer, &QTimer::timeout, this, &LimitJudgement::Timer4Timer);
    high_.edit->installEventFilter(this);
    low_.edit->installEventFilter(this);
}

bool LimitJudgement::keepsCharacter(const QString& editText, QChar typed, QChar separator) {
    if (!separator.isNull() && typed == separator)
        return !editText.contains(separator);
    switch (typed.unicode()) {
    case 8:
    case '\'':
    case '+':
    case '-':
    case '`':
        return true;
    default:
        return typed >= QLatin1Char('0') && typed <= QLatin1Char('9');
    }
}

bool LimitJudgement::T1HIKeyPress(QChar typed) const {
    return keepsCharacter(high_.edit->text(), typed, separator_);
}

bool LimitJudgement::T1LOKeyPress(QChar typed) const {
    return keepsCharacter(low_.edit->text(), typed, separator_);
}

bool LimitJudgement::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || (watched != high_.edit && watched != low_.edit))
        return QObject::eventFilter(watched, event);
    const std::optional<QString> typed = typedCharacters(*static_cast<QKeyEvent*>(event));
    if (!typed)
        return false;
    // A press can carry several characters (compose sequences); it is kept
    // whole or dropped whole, and a second mark within it counts as a second mark.
    QString text = static_cast<QLineEdit*>(watched)->text();
    for (QChar c : *typed) {
        if (!keepsCharacter(text, c, separator_))
            return true;
        text += c;
    }
    return false;
}

void LimitJudgement::T1HIChange() {
    restart(high_);
}

void LimitJudgement::T1LOChange() {
    restart(low_);
}

void LimitJudgement::Timer3Timer() {
    settle(high_);
}

void LimitJudgement::Timer4Timer() {
    settle(low_);
}

void LimitJudgement::restart(Limit& limit) {
    limit.timer->stop();
    limit.timer->start();
}

void LimitJudgement::settle(Limit& limit) {
    if (!LimitNumber::parse(limit.edit->text(), separator_))
        limit.edit->setText(limit.lastValid);
    limit.lastValid = limit.edit->text();
    // Putting the text back restarted the timer; the text is valid now, so
    // that run would find nothing to do.
    limit.timer->stop();
}

std::optional<QString> LimitJudgement::judge(const QString& valueText) {
    const std::optional<bool> pass =
        LimitNumber::judge(valueText, high_.edit->text(), low_.edit->text(), separator_);
    if (!pass)
        return std::nullopt;
    show(*pass);
    return QString::fromLatin1(*pass ? kPassText : kFailText);
}

void LimitJudgement::show(bool pass) {
    const QColor colour = pass ? passColour() : failColour();

    QPalette value = panel_.T1VALUE->palette();
    if (value.color(QPalette::Base) != colour) {
        value.setColor(QPalette::Base, colour);
        panel_.T1VALUE->setPalette(value);
    }
    panel_.Shape1->setFill(colour);

    QPalette verdict = panel_.judge->palette();
    if (verdict.color(QPalette::Window) != colour) {
        verdict.setColor(QPalette::Window, colour);
        panel_.judge->setPalette(verdict);
    }
    const QString text = pass ? QStringLiteral("Pass") : QStringLiteral("Fail");
    if (panel_.judge->text() != text) {
        panel_.judge->setText(text);
        panel_.judge->adjustSize();
    }
}

} // namespace qm45
