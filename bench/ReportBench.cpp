#include "record/PrintPreview.h"
#include "record/ReadingsTable.h"
#include "record/ReportActions.h"
#include "record/ReportPainter.h"

#include <QAction>
#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPixmap>
#include <QScrollArea>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

// The printed report over a table of 10,000,000 rows (270,271 pages): opening
// its preview, paging to its last page, and the cost of one page on screen
// and on paper.

namespace {

using namespace qm45;

constexpr std::int64_t kTenMillion = 10000000;

// Built once: filling the table is not what is measured. Readings repeat as
// a meter's do, so the interned texts stay few.
const ReadingsTable& bigTable() {
    static const std::unique_ptr<ReadingsTable> table = [] {
        auto t = std::make_unique<ReadingsTable>();
        const char* units[] = {"V", "mV", "k*", "M*", "#", "+A", "mA%"};
        ReadingRow row;
        for (std::int64_t i = 0; i < kTenMillion; ++i) {
            row.no = std::int32_t(i + 1);
            const int second = int((i / 3) % 86400);
            row.time = QStringLiteral("%1:%2:%3")
                           .arg(second / 3600, 2, 10, QLatin1Char('0'))
                           .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(second % 60, 2, 10, QLatin1Char('0'));
            row.dcac = i % 2 ? QStringLiteral("DC") : QStringLiteral("AC");
            row.value = QString::number(double(i % 20000) / 1000.0, 'f', 3);
            row.unit = QLatin1String(units[i % 7]);
            row.judge = i % 5 ? QStringLiteral("pass") : QStringLiteral("Fail");
            t->append(row);
        }
        return t;
    }();
    return *table;
}

QWidget* pageView(const PrintPreview& preview) {
    return preview.findChild<QScrollArea*>(QStringLiteral("pageScroll"))->widget();
}

// From the Print button to the preview on screen with its first page painted.
void BM_OpenPreview(benchmark::State& state) {
    const ReadingsTable& table = bigTable();
    QWidget window;
    ReportActions actions(table, &window, {});
    for (auto _ : state) {
        actions.BtPrintClick();
        PrintPreview* preview = actions.preview();
        const QPixmap shown = preview->grab();
        benchmark::DoNotOptimize(shown.cacheKey());
        state.PauseTiming();
        preview->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
    state.counters["pages"] = double(ReportPainter(table.snapshot()).pageCount());
}
BENCHMARK(BM_OpenPreview)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// Last Page from the first page, until the last page is painted.
void BM_PageToLast(benchmark::State& state) {
    QWidget window;
    ReportActions actions(bigTable(), &window, {});
    actions.BtPrintClick();
    PrintPreview* preview = actions.preview();
    QAction* last = preview->findChild<QAction*>(QStringLiteral("lastPage"));
    QWidget* view = pageView(*preview);
    std::int64_t reached = 0;
    for (auto _ : state) {
        last->trigger();
        // The page as the screen gets it; grab paints whether or not the
        // platform has exposed the window yet.
        const QPixmap shown = view->grab();
        benchmark::DoNotOptimize(shown.cacheKey());
        state.PauseTiming();
        reached = preview->currentPage() + 1;
        preview->firstPage();
        state.ResumeTiming();
    }
    if (reached != preview->pageCount())
        state.SkipWithError("Last Page did not reach the last page");
    state.counters["page reached"] = double(reached);
    preview->close();
}
BENCHMARK(BM_PageToLast)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

// One full page of 37 lines painted at 100 % on screen (96 dpi).
void BM_PaintPageOnScreen(benchmark::State& state) {
    const ReportPainter report(bigTable().snapshot());
    const double scale = 96.0 / 25.4;
    QImage image(int(210 * scale), int(297 * scale), QImage::Format_ARGB32_Premultiplied);
    std::int64_t page = 0;
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.scale(scale, scale);
        report.paintPage(painter, page);
        page = (page + 7919) % report.pageCount();
    }
}
BENCHMARK(BM_PaintPageOnScreen)->Unit(benchmark::kMicrosecond);

// One page streamed to a 1200 dpi PDF, as printing does: a hundred pages a run.
void BM_PrintPagesToPdf(benchmark::State& state) {
    const ReportPainter report(bigTable().snapshot());
    constexpr int kPages = 100;
    for (auto _ : state) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&out);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF());
        pdf.setResolution(1200);
        QPainter painter(&pdf);
        const double scale = 1200 / 25.4;
        for (int page = 0; page < kPages; ++page) {
            if (page > 0)
                pdf.newPage();
            painter.save();
            painter.scale(scale, scale);
            report.paintPage(painter, page);
            painter.restore();
        }
        painter.end();
        benchmark::DoNotOptimize(out.size());
    }
    state.SetItemsProcessed(state.iterations() * kPages);
}
BENCHMARK(BM_PrintPagesToPdf)->Unit(benchmark::kMillisecond);

} // namespace
