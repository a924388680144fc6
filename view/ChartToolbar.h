#pragma once

#include <QFrame>

class QCheckBox;
class QLineEdit;
class QToolButton;

namespace qm45 {

// Panel19: the tool bar above the trend chart.
class ChartToolbar : public QFrame {
    Q_OBJECT
public:
    explicit ChartToolbar(QWidget* parent = nullptr);

    QCheckBox* BtFill;
    QLineEdit* Maxrecord;
    QToolButton* BtSave;
    QToolButton* BtFirst;
    QToolButton* BTPrevious;
    QToolButton* Bt10;
    QToolButton* BtNext;
    QToolButton* BTlast;
    QToolButton* TbFd;
    QToolButton* TbSx;
};

} // namespace qm45
