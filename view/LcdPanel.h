#pragma once

#include "protocol/QM45Decoder.h"

#include <QFrame>
#include <QRect>
#include <QRegion>
#include <QSize>

namespace qm45 {

// Panel1: the replica of the meter's LCD. Five seven-segment digits with a
// minus sign and four decimal points, and the annunciators for function, unit,
// coupling and AUTO, all painted by the panel itself at the meter's layout.
class LcdPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr QSize panelSize{334, 136};

    explicit LcdPanel(QWidget* parent = nullptr);

    // Shows s, repainting only the elements whose state differs from the
    // current one.
    void apply(const LcdState& s);
    [[nodiscard]] const LcdState& state() const { return state_; }

    // Box of digit place 0..4 (LcdD0, LcdDa, LcdDb, LcdDc, LcdDd) in panel
    // coordinates; empty for any other place.
    [[nodiscard]] static QRect digitRect(int place);
    // Box an indicator paints into; nothing it draws leaves this box.
    [[nodiscard]] static QRect indicatorRect(Indicator indicator);
    // Everything that must be repainted to go from before to after.
    [[nodiscard]] static QRegion changedRegion(const LcdState& before, const LcdState& after);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LcdState state_;
};

} // namespace qm45
