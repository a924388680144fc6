#pragma once

#include "record/LimitNumber.h"

#include <QColor>
#include <QObject>
#include <QString>

#include <optional>

class QLineEdit;
class QTimer;

namespace qm45 {

class JudgementPanel;

// The limit judgement behind Panel4: it guards what may be typed into the
// limit edits T1HI and T1LO, puts an invalid limit back to its last valid
// text 500 ms after the last change (Timer3 for T1HI, Timer4 for T1LO), and
// judges each decoded reading against the two limits.
//
// Everything here runs on the main thread. The panel must outlive this object.
class LimitJudgement final : public QObject {
    Q_OBJECT
public:
    // `decimalMark` is the locale's decimal mark as the decoder writes it
    // into the value text; it may be empty.
    LimitJudgement(JudgementPanel& panel, const QString& decimalMark, QObject* parent = nullptr);

    // JudgeText values, stored with the reading and written to the readings table.
    static constexpr const char* kPassText = LimitNumber::kPassText;
    static constexpr const char* kFailText = LimitNumber::kFailText;
    static QColor passColour() { return QColor(0, 128, 0); }
    static QColor failColour() { return QColor(255, 0, 0); }

    // Judges one decoded reading; call it after `valueText` has been put into
    // T1VALUE. Colours T1VALUE, Shape1 and judge and returns the JudgeText.
    // While either limit text is not a number nothing changes and the result
    // is empty: the previous verdict and JudgeText stand.
    [[nodiscard]] std::optional<QString> judge(const QString& valueText);

    // Whether a character typed into T1HI / T1LO is kept (false: discarded).
    [[nodiscard]] bool T1HIKeyPress(QChar typed) const;
    [[nodiscard]] bool T1LOKeyPress(QChar typed) const;
    // The rule behind both: backspace, apostrophe, "+", "-", digits, grave
    // accent and `separator` are kept, except a separator when `editText`
    // already holds one. A null `separator` admits no decimal character.
    [[nodiscard]] static bool keepsCharacter(const QString& editText, QChar typed, QChar separator);

    // Connected to the edits' textChanged and the timers' timeout.
    void T1HIChange();
    void T1LOChange();
    void Timer3Timer();
    void Timer4Timer();

    [[nodiscard]] const QString& LastValidHigh() const { return high_.lastValid; }
    [[nodiscard]] const QString& LastValidLow() const { return low_.lastValid; }
    [[nodiscard]] QTimer* Timer3() const { return high_.timer; }
    [[nodiscard]] QTimer* Timer4() const { return low_.timer; }
    [[nodiscard]] QChar separator() const { return separator_; }

protected:
    // The keystroke filter of T1HI and T1LO.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Limit {
        QLineEdit* edit = nullptr;
        QTimer* timer = nullptr;
        QString lastValid;
    };

    void restart(Limit& limit);
    void settle(Limit& limit);
    void show(bool pass);

    JudgementPanel& panel_;
    QChar separator_;
    Limit high_;
    Limit low_;
};

} // namespace qm45
