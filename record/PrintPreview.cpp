#include "record/PrintPreview.h"

#include "record/PrinterDialogs.h"
#include "view/Dialogs.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace qm45 {

namespace {

constexpr int kGap = 12;   // grey border around the paper, in screen pixels
constexpr int kShadow = 3; // the paper's shadow to the lower right
constexpr double kMmPerInch = 25.4;
constexpr int kProgressSteps = 1000;

} // namespace

// The paper on view. It paints the current page every time it is exposed and
// keeps nothing between paints.
class PrintPreview::PageView final : public QWidget {
public:
    PageView(const PrintPreview& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Dark));
        const QSizeF paperMm = owner_.document_->pageSizeMm();
        const QRectF paper(kGap, kGap, paperMm.width() * owner_.scale_,
                           paperMm.height() * owner_.scale_);
        painter.fillRect(paper.translated(kShadow, kShadow), palette().color(QPalette::Shadow));
        painter.fillRect(paper, Qt::white);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.translate(paper.topLeft());
        painter.scale(owner_.scale_, owner_.scale_);
        painter.setClipRect(QRectF(QPointF(0, 0), paperMm));
        owner_.document_->paintPage(painter, owner_.page_);
    }

private:
    const PrintPreview& owner_;
};

PrintPreview::PrintPreview(std::shared_ptr<const PreviewDocument> document,
                           std::shared_ptr<PrinterDialogs> printerDialogs,
                           std::shared_ptr<Dialogs> dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), document_(std::move(document)),
      printerDialogs_(printerDialogs ? std::move(printerDialogs)
                                     : std::make_shared<NativePrinterDialogs>()),
      dialogs_(std::move(dialogs)) {
    setWindowTitle(QStringLiteral("Print Preview"));

    auto* tools = new QToolBar(this);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    zoomWholePage_ = makeAction(QStringLiteral("Whole Page"), "zoomWholePage", QKeySequence());
    zoomActualSize_ = makeAction(QStringLiteral("100 %"), "zoomActualSize", QKeySequence());
    zoomPageWidth_ = makeAction(QStringLiteral("Page Width"), "zoomPageWidth", QKeySequence());
    firstPage_ =
        makeAction(QStringLiteral("First"), "firstPage", QKeySequence(Qt::CTRL | Qt::Key_Home));
    previousPage_ =
        makeAction(QStringLiteral("Previous"), "previousPage", QKeySequence(Qt::Key_PageUp));
    nextPage_ = makeAction(QStringLiteral("Next"), "nextPage", QKeySequence(Qt::Key_PageDown));
    lastPage_ =
        makeAction(QStringLiteral("Last"), "lastPage", QKeySequence(Qt::CTRL | Qt::Key_End));
    printerSetup_ = makeAction(QStringLiteral("Printer Setup"), "printerSetup", QKeySequence());
    print_ = makeAction(QStringLiteral("Print"), "print", QKeySequence::Print);
    close_ = makeAction(QStringLiteral("Close"), "closePreview", QKeySequence(Qt::Key_Escape));
    for (QAction* zoom : {zoomWholePage_, zoomActualSize_, zoomPageWidth_})
        zoom->setCheckable(true);
    zoomWholePage_->setChecked(true);

    tools->addActions({zoomWholePage_, zoomActualSize_, zoomPageWidth_});
    tools->addSeparator();
    tools->addActions({firstPage_, previousPage_, nextPage_, lastPage_});
    pageLabel_ = new QLabel(tools);
    pageLabel_->setObjectName(QStringLiteral("pageLabel"));
    pageLabel_->setContentsMargins(8, 0, 8, 0);
    tools->addWidget(pageLabel_);
    tools->addSeparator();
    tools->addActions({printerSetup_, print_});
    tools->addSeparator();
    tools->addAction(close_);

    connect(zoomWholePage_, &QAction::triggered, this, [this] { setZoom(Zoom::WholePage); });
    connect(zoomActualSize_, &QAction::triggered, this, [this] { setZoom(Zoom::ActualSize); });
    connect(zoomPageWidth_, &QAction::triggered, this, [this] { setZoom(Zoom::PageWidth); });
    connect(firstPage_, &QAction::triggered, this, &PrintPreview::firstPage);
    connect(previousPage_, &QAction::triggered, this, &PrintPreview::previousPage);
    connect(nextPage_, &QAction::triggered, this, &PrintPreview::nextPage);
    connect(lastPage_, &QAction::triggered, this, &PrintPreview::lastPage);
    connect(printerSetup_, &QAction::triggered, this, &PrintPreview::printerSetup);
    connect(print_, &QAction::triggered, this, &PrintPreview::print);
    connect(close_, &QAction::triggered, this, &QWidget::close);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("pageScroll"));
    scroll_->setBackgroundRole(QPalette::Dark);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setWidgetResizable(false);
    view_ = new PageView(*this, scroll_);
    view_->setObjectName(QStringLiteral("pageView"));
    scroll_->setWidget(view_);
    scroll_->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tools);
    layout->addWidget(scroll_, 1);

    // Tall enough to read a whole page on a common screen.
    QSize size(820, 980);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
    updateLayout();
    updateActions();
}

PrintPreview::~PrintPreview() = default;

QAction* PrintPreview::makeAction(const QString& text, const char* name, const QKeySequence& key) {
    auto* action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    if (!key.isEmpty())
        action->setShortcut(key);
    QWidget::addAction(action);
    return action;
}

std::int64_t PrintPreview::pageCount() const {
    return std::max<std::int64_t>(1, document_->pageCount());
}

void PrintPreview::setZoom(Zoom zoom) {
    zoom_ = zoom;
    updateLayout();
    updateActions();
}

void PrintPreview::showPage(std::int64_t page) {
    page = std::clamp<std::int64_t>(page, 0, pageCount() - 1);
    if (page != page_) {
        page_ = page;
        scroll_->verticalScrollBar()->setValue(0);
        view_->update();
    }
    updateActions();
}

void PrintPreview::firstPage() {
    showPage(0);
}
void PrintPreview::previousPage() {
    showPage(page_ - 1);
}
void PrintPreview::nextPage() {
    showPage(page_ + 1);
}
void PrintPreview::lastPage() {
    showPage(pageCount() - 1);
}

QPrinter& PrintPreview::printer() {
    if (!printer_) {
        printer_ = std::make_shared<QPrinter>(QPrinter::HighResolution);
        printer_->setPageLayout(
            QPageLayout(QPageSize(document_->pageSizeMm(), QPageSize::Millimeter),
                        QPageLayout::Portrait, QMarginsF()));
        // The document places its texts from the paper's edge, margins included.
        printer_->setFullPage(true);
    }
    return *printer_;
}

void PrintPreview::printerSetup() {
    if (printing_)
        return;
    printerDialogs_->setup(this, printer());
}

void PrintPreview::print() {
    if (printing_)
        return;
    const int last = int(std::min<std::int64_t>(pageCount(), std::numeric_limits<int>::max()));
    if (!printerDialogs_->print(this, printer(), last))
        return;
    const std::shared_ptr<void> held = printerDialogs_->holdWhilePrinting();
    printing_ = true;
    cancelPrinting_ = false;
    updateActions();
    const QPointer<PrintPreview> self(this);
    const std::shared_ptr<QPrinter> printer = printer_;
    printChosenPages(printer);
    if (!self)
        return;
    printing_ = false;
    updateActions();
    if (closeWhenPrinted_)
        close();
}

// Runs a nested event loop between pages, so the meter keeps being read while
// a long report prints; the window may be closed meanwhile, or even deleted
// with its parent, so nothing of it is touched after the loop without a check.
bool PrintPreview::printChosenPages(const std::shared_ptr<QPrinter>& printerHeld) {
    QPrinter& printer = *printerHeld;
    const std::shared_ptr<const PreviewDocument> document = document_;
    const std::shared_ptr<Dialogs> dialogs = dialogs_;
    const QPointer<PrintPreview> self(this);
    const std::int64_t pages = pageCount();

    std::vector<std::pair<std::int64_t, std::int64_t>> ranges; // first and last page, from 0
    switch (printer.printRange()) {
    case QPrinter::CurrentPage:
        ranges.emplace_back(page_, page_);
        break;
    case QPrinter::PageRange:
        for (const QPageRanges::Range& r : printer.pageRanges().toRangeList()) {
            const std::int64_t from = std::max<std::int64_t>(r.from - 1, 0);
            const std::int64_t to = std::min<std::int64_t>(r.to - 1, pages - 1);
            if (from <= to)
                ranges.emplace_back(from, to);
        }
        break;
    case QPrinter::AllPages:
    case QPrinter::Selection:
        break;
    }
    if (ranges.empty())
        ranges.emplace_back(0, pages - 1);

    // A print system that cannot make copies itself leaves them to us.
    const int copies = printer.supportsMultipleCopies() ? 1 : std::max(1, printer.copyCount());
    const bool collate = printer.collateCopies();
    std::int64_t total = 0;
    for (const auto& r : ranges)
        total += (r.second - r.first + 1) * copies;

    const auto fail = [&](const QString& text) {
        if (dialogs)
            dialogs->error(self, text);
        return false;
    };

    QPainter painter;
    if (!painter.begin(&printer))
        return fail(QStringLiteral("The printer could not be started."));
    const QSizeF paperMm = document->pageSizeMm();
    const double dotsPerMm = printer.resolution() / kMmPerInch;
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    // The layout is fixed: on smaller paper the page shrinks to fit, never
    // loses its edges.
    const double fit = std::min({1.0, paper.width() / (paperMm.width() * dotsPerMm),
                                 paper.height() / (paperMm.height() * dotsPerMm)});

    QPointer<QProgressDialog> progress = new QProgressDialog(
        QStringLiteral("Printing..."), QStringLiteral("Cancel"), 0, kProgressSteps, this);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(500);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    const auto finishProgress = [&progress] { delete progress.data(); };

    std::int64_t done = 0;
    bool stopped = false;
    bool failed = false;
    const auto printPage = [&](std::int64_t page) {
        if (done > 0 && !printer.newPage()) {
            failed = true;
            return false;
        }
        painter.save();
        painter.scale(dotsPerMm * fit, dotsPerMm * fit);
        document->paintPage(painter, page);
        painter.restore();
        ++done;
        if (progress)
            progress->setValue(int(done * kProgressSteps / total));
        QCoreApplication::processEvents();
        stopped = !self || cancelPrinting_ || !progress || progress->wasCanceled();
        return !stopped;
    };

    const auto printRanges = [&](int copiesEach) {
        for (const auto& r : ranges) {
            for (std::int64_t page = r.first; page <= r.second; ++page) {
                for (int c = 0; c < copiesEach; ++c) {
                    if (!printPage(page))
                        return false;
                }
            }
        }
        return true;
    };
    if (collate) {
        for (int c = 0; c < copies; ++c) {
            if (!printRanges(1))
                break;
        }
    } else {
        printRanges(copies);
    }

    if (stopped || failed)
        printer.abort();
    painter.end();
    finishProgress();
    if (failed)
        return fail(QStringLiteral("Printing failed."));
    return !stopped;
}

void PrintPreview::closeEvent(QCloseEvent* event) {
    if (printing_) {
        cancelPrinting_ = true;
        closeWhenPrinted_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    emit closed();
}

bool PrintPreview::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scroll_ && event->type() == QEvent::Resize)
        updateLayout();
    return QWidget::eventFilter(watched, event);
}

void PrintPreview::updateLayout() {
    const QSizeF paperMm = document_->pageSizeMm();
    const QSize room = scroll_->maximumViewportSize();
    // One pixel less: the view's size is rounded up to whole pixels.
    const double width = room.width() - 2 * kGap - kShadow - 1;
    const double height = room.height() - 2 * kGap - kShadow - 1;
    double scale = 1.0;
    switch (zoom_) {
    case Zoom::WholePage:
        scale = std::min(width / paperMm.width(), height / paperMm.height());
        break;
    case Zoom::ActualSize:
        scale = view_->logicalDpiX() / kMmPerInch;
        break;
    case Zoom::PageWidth: {
        // A page as wide as the view is taller than it, so the vertical bar shows.
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll_);
        scale = (width - bar) / paperMm.width();
        break;
    }
    }
    scale_ = std::max(scale, 0.1);
    view_->setFixedSize(int(std::ceil(paperMm.width() * scale_)) + 2 * kGap + kShadow,
                        int(std::ceil(paperMm.height() * scale_)) + 2 * kGap + kShadow);
    view_->update();
}

void PrintPreview::updateActions() {
    const std::int64_t last = pageCount() - 1;
    const bool idle = !printing_;
    zoomWholePage_->setChecked(zoom_ == Zoom::WholePage);
    zoomActualSize_->setChecked(zoom_ == Zoom::ActualSize);
    zoomPageWidth_->setChecked(zoom_ == Zoom::PageWidth);
    for (QAction* a : {zoomWholePage_, zoomActualSize_, zoomPageWidth_, printerSetup_, print_})
        a->setEnabled(idle);
    firstPage_->setEnabled(idle && page_ > 0);
    previousPage_->setEnabled(idle && page_ > 0);
    nextPage_->setEnabled(idle && page_ < last);
    lastPage_->setEnabled(idle && page_ < last);
    pageLabel_->setText(QStringLiteral("Page %1 of %2").arg(page_ + 1).arg(last + 1));
}

} // namespace qm45
