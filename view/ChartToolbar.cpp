#include "view/ChartToolbar.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

namespace qm45 {

namespace {
QToolButton* button(QWidget* parent, const char* name, const QString& hint, const QRect& geometry) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setGeometry(geometry);
    return b;
}
} // namespace

ChartToolbar::ChartToolbar(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Panel19"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);

    BtFill = new QCheckBox(QStringLiteral("Fill"), this);
    BtFill->setObjectName(QStringLiteral("BtFill"));
    BtFill->setChecked(true);
    BtFill->setGeometry(6, 6, 46, 20);

    Maxrecord = new QLineEdit(QStringLiteral("100"), this);
    Maxrecord->setObjectName(QStringLiteral("Maxrecord"));
    Maxrecord->setGeometry(54, 5, 56, 22);

    const QStyle* s = style();
    BtSave = button(this, "BtSave", QStringLiteral("Save"), QRect(116, 4, 26, 25));
    BtSave->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));

    BtFirst = button(this, "BtFirst", QStringLiteral("First"), QRect(156, 4, 26, 25));
    BtFirst->setIcon(s->standardIcon(QStyle::SP_MediaSkipBackward));
    BTPrevious = button(this, "BTPrevious", QStringLiteral("Previous"), QRect(184, 4, 26, 25));
    BTPrevious->setIcon(s->standardIcon(QStyle::SP_MediaSeekBackward));

    Bt10 = button(this, "Bt10", QStringLiteral("Page No."), QRect(212, 4, 60, 25));
    Bt10->setText(QStringLiteral("1"));
    QPalette blue = Bt10->palette();
    blue.setColor(QPalette::ButtonText, Qt::blue);
    Bt10->setPalette(blue);

    BtNext = button(this, "BtNext", QStringLiteral("Next"), QRect(274, 4, 26, 25));
    BtNext->setIcon(s->standardIcon(QStyle::SP_MediaSeekForward));
    BTlast = button(this, "BTlast", QStringLiteral("last"), QRect(302, 4, 26, 25));
    BTlast->setIcon(s->standardIcon(QStyle::SP_MediaSkipForward));

    TbFd = button(this, "TbFd", QStringLiteral("Graphic Enlarge"), QRect(340, 4, 26, 25));
    TbFd->setIcon(s->standardIcon(QStyle::SP_TitleBarMaxButton));
    TbSx = button(this, "TbSx", QStringLiteral("Graphic Restore"), QRect(340, 4, 26, 25));
    TbSx->setIcon(s->standardIcon(QStyle::SP_TitleBarNormalButton));
    TbSx->hide();
}

} // namespace qm45
