#include "view/ChartPanel.h"

#include "view/ChartToolbar.h"
#include "view/Dialogs.h"
#include "view/DigitKeyFilter.h"
#include "view/TrendChart.h"

#include <QBuffer>
#include <QByteArray>
#include <QCheckBox>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <cstring>

namespace qm45 {

namespace {
// The chart's top edge tells the two sizes apart: it stands at 187 normally
// and at 28 while enlarged.
constexpr int kNormalTopAbove = 50;
constexpr QPoint kEnlargedChartAt(2, 28);
// The enlarged chart fills the client area below the tool bar, with the
// same 2-pixel margin left and right. It is measured from the client area,
// not from the window's outer frame, whose size depends on the window
// manager's decorations (none at all on a bare X server).
constexpr int kEnlargedWidthLess = 2 * kEnlargedChartAt.x();
const QPoint kEnlargedToolbarAt(4, 2);
const QPoint kRestoredToolbarAt(337, 152);

} // namespace

ChartPanel::ChartPanel(const Widgets& widgets, Dialogs& dialogs, QObject* parent)
    : QObject(parent), widgets_(widgets), dialogs_(dialogs),
      ChartControl_(*widgets.Chtshow, TChartControl::kDefaultPageSize) {
    if (!widgets_.Timer2) {
        widgets_.Timer2 = new QTimer(this);
        widgets_.Timer2->setObjectName(QStringLiteral("Timer2"));
    }
    widgets_.Timer2->setInterval(kPageSizeDelayMs);
    widgets_.Timer2->setSingleShot(true);
    widgets_.Timer2->stop();

    ChartToolbar* bar = widgets_.Panel19;
    bar->Maxrecord->installEventFilter(new DigitKeyFilter(this));

    connect(bar->BtFill, &QCheckBox::toggled, this, &ChartPanel::btFillClick);
    connect(bar->Maxrecord, &QLineEdit::textChanged, this, &ChartPanel::MaxrecordChange);
    connect(widgets_.Timer2, &QTimer::timeout, this, &ChartPanel::Timer2Timer);
    connect(bar->BtFirst, &QToolButton::clicked, this, &ChartPanel::BtFirstClick);
    connect(bar->BTPrevious, &QToolButton::clicked, this, &ChartPanel::BTPreviousClick);
    connect(bar->BtNext, &QToolButton::clicked, this, &ChartPanel::BtNextClick);
    connect(bar->BTlast, &QToolButton::clicked, this, &ChartPanel::BTlastClick);
    connect(bar->TbFd, &QToolButton::clicked, this, &ChartPanel::TbFdClick);
    connect(bar->TbSx, &QToolButton::clicked, this, &ChartPanel::TbFdClick);
    connect(bar->BtSave, &QToolButton::clicked, this, &ChartPanel::BtSaveClick);

    showPage(ChartControl_.CurrentPage());
}

ChartPanel::~ChartPanel() = default;

void ChartPanel::showPage(std::int32_t page) {
    widgets_.Panel19->Bt10->setText(QString::number(page));
}

QWidget* ChartPanel::window() const {
    return widgets_.window ? widgets_.window : widgets_.Chtshow->window();
}

void ChartPanel::AddValue(double value) {
    showPage(ChartControl_.AddValue(value));
}

void ChartPanel::ClearChart() {
    showPage(ChartControl_.ClearChart());
}

void ChartPanel::ShowSeries(int index) {
    widgets_.Chtshow->ShowSeries(index);
}

void ChartPanel::btFillClick() {
    ShowSeries(widgets_.Panel19->BtFill->isChecked() ? TrendChart::kAreaSeries
                                                     : TrendChart::kLineSeries);
}

void ChartPanel::MaxrecordChange() {
    widgets_.Timer2->stop();
    widgets_.Timer2->start();
}

std::optional<std::int32_t> ChartPanel::pageSizeFromText(const QString& text) {
    bool ok = false;
    const int size = text.toInt(&ok, 10);
    if (!ok || size <= 0)
        return std::nullopt;
    return size;
}

void ChartPanel::Timer2Timer() {
    widgets_.Timer2->stop();
    std::optional<std::int32_t> size = pageSizeFromText(widgets_.Panel19->Maxrecord->text());
    if (!size) {
        size = TChartControl::kDefaultPageSize;
        widgets_.Panel19->Maxrecord->setText(QString::number(*size));
    }
    showPage(ChartControl_.SetPageSize(*size));
}

void ChartPanel::BtFirstClick() {
    showPage(ChartControl_.FirstPage());
}

void ChartPanel::BTPreviousClick() {
    showPage(ChartControl_.PreviousPage());
}

void ChartPanel::BtNextClick() {
    showPage(ChartControl_.NextPage());
}

void ChartPanel::BTlastClick() {
    showPage(ChartControl_.LastPage());
}

bool ChartPanel::enlarged() const {
    return widgets_.Chtshow->geometry().top() <= kNormalTopAbove;
}

void ChartPanel::TbFdClick() {
    TrendChart* chart = widgets_.Chtshow;
    ChartToolbar* bar = widgets_.Panel19;
    const bool enlarge = !enlarged();
    bar->TbFd->setVisible(!enlarge);
    bar->TbSx->setVisible(enlarge);
    if (enlarge) {
        SavedChartBounds = chart->geometry();
        const QSize client = chart->parentWidget() ? chart->parentWidget()->size() : chart->size();
        chart->setGeometry(QRect(kEnlargedChartAt, QSize(client.width() - kEnlargedWidthLess,
                                                         client.height() - kEnlargedChartAt.y())));
        bar->move(kEnlargedToolbarAt);
        // In front of the LCD replica, the grid and the other controls, but
        // behind its own tool bar.
        chart->raise();
        bar->raise();
    } else {
        if (SavedChartBounds.isValid())
            chart->setGeometry(SavedChartBounds);
        bar->move(kRestoredToolbarAt);
    }
    for (QWidget* panel : {widgets_.Panel4, widgets_.Panel6}) {
        if (panel)
            panel->setVisible(!enlarge);
    }
}

QString ChartPanel::writeBitmap(const QString& path) const {
    // Encoded in memory first, so that a failure of the encoder leaves the
    // chosen file alone.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!widgets_.Chtshow->picture().save(&buffer, "BMP"))
        return QStringLiteral("The chart could not be encoded as a bitmap.");

    // Written under a temporary name beside the file and renamed over it
    // once complete: a failed write leaves the picture that was there.
    if (QFileInfo(path).isDir())
        return QStringLiteral("Cannot create file \"%1\". %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(EISDIR)));
    QSaveFile file(path);
    // Unbuffered, so that a refused write says why at once.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString());
    // A short write is followed by one that fails and gives the reason.
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return QStringLiteral("Cannot write file \"%1\". %2").arg(path, reason);
        }
        done += written;
    }
    if (!file.commit())
        return QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString());
    return {};
}

void ChartPanel::BtSaveClick() {
    Dialogs::FileRequest request;
    request.filters = QStringList{QStringLiteral("Bitmaps (*.bmp)")};
    request.defaultSuffix = QStringLiteral("bmp");
    const Dialogs::FileChoice choice = dialogs_.saveFile(window(), request);
    if (choice.path.isEmpty())
        return;
    const QString failure = writeBitmap(choice.path);
    if (!failure.isEmpty()) {
        dialogs_.error(window(), failure);
        return;
    }
    dialogs_.information(window(), QStringLiteral("Graphic has saved on ") + choice.path);
}

} // namespace qm45
