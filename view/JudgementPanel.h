#pragma once

#include <QColor>
#include <QFrame>

class QLabel;
class QLineEdit;

namespace qm45 {

// The round verdict lamp behind the "Pass"/"Fail" text: a circle of the
// widget's smaller side, centred in it.
class VerdictCircle : public QWidget {
    Q_OBJECT
public:
    explicit VerdictCircle(QWidget* parent = nullptr);
    void setFill(const QColor& colour);
    [[nodiscard]] QColor fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

// Panel4: the measured value, the two limits, the verdict and the link lamp.
class JudgementPanel : public QFrame {
    Q_OBJECT
public:
    explicit JudgementPanel(QWidget* parent = nullptr);

    // Pale yellow of the verdict area before the first verdict.
    static QColor paleYellow() { return QColor(0xFF, 0xFF, 0xE1); }

    QLabel* T1_HI;
    QLineEdit* T1HI;
    QLabel* T1_Value;
    QLineEdit* T1VALUE;
    QLabel* T1_LO;
    QLineEdit* T1LO;
    VerdictCircle* Shape1;
    QLabel* judge;
    QLabel* CONok;
    QLabel* CONokN;
};

} // namespace qm45
