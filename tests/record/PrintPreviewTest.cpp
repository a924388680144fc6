#include "record/PrintPreview.h"
#include "record/PreviewDocument.h"
#include "record/PrinterDialogs.h"
#include "record/ReadingsTable.h"
#include "record/ReportPainter.h"

#include "../support/FakeDialogs.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPageRanges>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using namespace qm45;

namespace {

// The readings report, noting every page it is asked to paint and where to.
class CountingReport final : public PreviewDocument {
public:
    explicit CountingReport(ReadingsTable::Snapshot rows) : report_(std::move(rows)) {}

    std::int64_t pageCount() const override { return report_.pageCount(); }
    QSizeF pageSizeMm() const override { return ReportPainter::pageSizeMm(); }
    void paintPage(QPainter& painter, std::int64_t page) const override {
        (dynamic_cast<QPrinter*>(painter.device()) ? printed : shown).push_back(page);
        report_.paintPage(painter, page);
    }

    mutable std::vector<std::int64_t> shown;
    mutable std::vector<std::int64_t> printed;

private:
    ReportPainter report_;
};

// Answers the print dialog as a user would, sending the output to a PDF file.
class ScriptedPrinterDialogs final : public PrinterDialogs {
public:
    bool setup(QWidget*, QPrinter&) override { return true; }
    bool print(QWidget*, QPrinter& printer, int last) override {
        lastPageOffered = last;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(outputFile);
        printer.setPrintRange(range);
        if (range == QPrinter::PageRange)
            printer.setPageRanges(pages);
        printer.setCopyCount(copies);
        printer.setCollateCopies(collate);
        return accept;
    }

    QString outputFile;
    QPrinter::PrintRange range = QPrinter::AllPages;
    QPageRanges pages;
    int copies = 1;
    bool collate = true;
    bool accept = true;
    int lastPageOffered = 0;
};

ReadingsTable::Snapshot tableOf(ReadingsTable& table, std::int64_t rows) {
    ReadingRow row;
    row.time = QStringLiteral("12:00:00");
    row.dcac = QStringLiteral("DC");
    row.value = QStringLiteral("1.000");
    row.unit = QStringLiteral("V");
    row.judge = QStringLiteral("pass");
    for (std::int64_t i = 0; i < rows; ++i) {
        row.no = std::int32_t(i + 1);
        table.append(row);
    }
    return table.snapshot();
}

QAction* action(const PrintPreview& preview, const char* name) {
    auto* a = preview.findChild<QAction*>(QLatin1String(name));
    if (!a)
        qFatal("the preview has no action %s", name);
    return a;
}

QString pageLabel(const PrintPreview& preview) {
    return preview.findChild<QLabel*>(QStringLiteral("pageLabel"))->text();
}

int pdfPages(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    return int(QString::fromLatin1(file.readAll()).count(page));
}

QString listed(const std::vector<std::int64_t>& pages) {
    QStringList texts;
    for (std::int64_t p : pages)
        texts << QString::number(p + 1);
    return texts.join(QLatin1Char(','));
}

} // namespace

class PrintPreviewTest : public QObject {
    Q_OBJECT
private slots:
    void opensOnALargeTablePaintingOnlyThePageOnView();
    void pagingStopsAtTheFirstAndLastPage();
    void zoomFitsThePageOrItsWidthOrShowsItLifeSize();
    void printsTheChosenPagesAndCopies_data();
    void printsTheChosenPagesAndCopies();
    void printerThatCannotStartIsReported();
    void closingTellsOnce();
    void platformDialogPrintsToAPdfFile();
};

void PrintPreviewTest::opensOnALargeTablePaintingOnlyThePageOnView() {
    // 10,000 pages: laying them all out on opening would paint 370,000 lines.
    ReadingsTable table;
    auto report = std::make_shared<CountingReport>(tableOf(table, 370'000));
    PrintPreview preview(report);
    QCOMPARE(preview.windowTitle(), QStringLiteral("Print Preview"));
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    QTRY_VERIFY(!report->shown.empty());
    QCoreApplication::processEvents();
    QVERIFY2(std::all_of(report->shown.begin(), report->shown.end(),
                         [](std::int64_t p) { return p == 0; }),
             qPrintable(QStringLiteral("expected only page 1 painted on opening, got pages %1")
                            .arg(listed(report->shown))));
    QCOMPARE(pageLabel(preview), QStringLiteral("Page 1 of 10000"));

    report->shown.clear();
    action(preview, "lastPage")->trigger();
    QTRY_VERIFY(!report->shown.empty());
    QCoreApplication::processEvents();
    QVERIFY2(
        std::all_of(report->shown.begin(), report->shown.end(),
                    [](std::int64_t p) { return p == 9999; }),
        qPrintable(QStringLiteral("expected only page 10000 painted after Last Page, got pages %1")
                       .arg(listed(report->shown))));
    QCOMPARE(pageLabel(preview), QStringLiteral("Page 10000 of 10000"));
    QVERIFY2(report->printed.empty(), "paging printed something");
}

void PrintPreviewTest::pagingStopsAtTheFirstAndLastPage() {
    ReadingsTable table;
    PrintPreview preview(std::make_shared<CountingReport>(tableOf(table, 3 * 37)));
    struct Step {
        const char* action;
        std::int64_t page;
    };
    const Step steps[] = {{"nextPage", 1},     {"nextPage", 2},  {"nextPage", 2},
                          {"previousPage", 1}, {"firstPage", 0}, {"previousPage", 0},
                          {"lastPage", 2},     {"firstPage", 0}};
    for (const Step& step : steps) {
        const std::int64_t before = preview.currentPage();
        // A disabled action does nothing when triggered, as its button would.
        action(preview, step.action)->trigger();
        QVERIFY2(preview.currentPage() == step.page,
                 qPrintable(QStringLiteral("%1 from page %2: expected page %3, got %4")
                                .arg(QLatin1String(step.action))
                                .arg(before + 1)
                                .arg(step.page + 1)
                                .arg(preview.currentPage() + 1)));
        const bool atFirst = step.page == 0;
        const bool atLast = step.page == 2;
        QCOMPARE(action(preview, "firstPage")->isEnabled(), !atFirst);
        QCOMPARE(action(preview, "previousPage")->isEnabled(), !atFirst);
        QCOMPARE(action(preview, "nextPage")->isEnabled(), !atLast);
        QCOMPARE(action(preview, "lastPage")->isEnabled(), !atLast);
        QCOMPARE(pageLabel(preview), QStringLiteral("Page %1 of 3").arg(step.page + 1));
    }
    const std::pair<std::int64_t, std::int64_t> asked[] = {{7, 2}, {-1, 0}, {1, 1}};
    for (const auto& [page, shown] : asked) {
        preview.showPage(page);
        QVERIFY2(preview.currentPage() == shown,
                 qPrintable(QStringLiteral("page index %1 asked: expected %2, got %3")
                                .arg(page)
                                .arg(shown)
                                .arg(preview.currentPage())));
    }
}

void PrintPreviewTest::zoomFitsThePageOrItsWidthOrShowsItLifeSize() {
    ReadingsTable table;
    PrintPreview preview(std::make_shared<CountingReport>(tableOf(table, 1)));
    preview.resize(700, 800);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    auto* scroll = preview.findChild<QScrollArea*>(QStringLiteral("pageScroll"));
    QWidget* view = scroll->widget();

    QCOMPARE(preview.zoom(), PrintPreview::Zoom::WholePage);
    QCoreApplication::processEvents();
    QVERIFY2(
        view->width() <= scroll->viewport()->width() &&
            view->height() <= scroll->viewport()->height(),
        qPrintable(QStringLiteral("whole page: page view %1x%2 does not fit the %3x%4 viewport")
                       .arg(view->width())
                       .arg(view->height())
                       .arg(scroll->viewport()->width())
                       .arg(scroll->viewport()->height())));
    const double wholePage = preview.scale();

    action(preview, "zoomPageWidth")->trigger();
    QCoreApplication::processEvents();
    QVERIFY2(
        view->width() <= scroll->viewport()->width() &&
            !scroll->horizontalScrollBar()->isVisible() &&
            view->width() > scroll->viewport()->width() * 0.9 && preview.scale() > wholePage,
        qPrintable(
            QStringLiteral(
                "page width: page view %1 wide in a %2 wide viewport, scale %3 (whole page %4)")
                .arg(view->width())
                .arg(scroll->viewport()->width())
                .arg(preview.scale())
                .arg(wholePage)));
    QVERIFY(scroll->verticalScrollBar()->isVisible());

    action(preview, "zoomActualSize")->trigger();
    QCOMPARE(preview.zoom(), PrintPreview::Zoom::ActualSize);
    QCOMPARE(preview.scale(), view->logicalDpiX() / 25.4);
    QVERIFY(action(preview, "zoomActualSize")->isChecked());
    QVERIFY(!action(preview, "zoomWholePage")->isChecked());
}

void PrintPreviewTest::printsTheChosenPagesAndCopies_data() {
    QTest::addColumn<int>("range");
    QTest::addColumn<QString>("pages");
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("collate");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("expected"); // pages printed, in order, from 1

    QTest::newRow("all pages") << int(QPrinter::AllPages) << "" << 1 << true << true << "1,2,3";
    QTest::newRow("pages 2-3") << int(QPrinter::PageRange) << "2-3" << 1 << true << true << "2,3";
    QTest::newRow("pages 1 and 3")
        << int(QPrinter::PageRange) << "1,3" << 1 << true << true << "1,3";
    QTest::newRow("range past the end")
        << int(QPrinter::PageRange) << "3-9" << 1 << true << true << "3";
    QTest::newRow("page on view") << int(QPrinter::CurrentPage) << "" << 1 << true << true << "2";
    QTest::newRow("two collated copies")
        << int(QPrinter::PageRange) << "2-3" << 2 << true << true << "2,3,2,3";
    QTest::newRow("two copies, uncollated")
        << int(QPrinter::PageRange) << "2-3" << 2 << false << true << "2,2,3,3";
    QTest::newRow("dialog cancelled") << int(QPrinter::AllPages) << "" << 1 << true << false << "";
}

void PrintPreviewTest::printsTheChosenPagesAndCopies() {
    QFETCH(int, range);
    QFETCH(QString, pages);
    QFETCH(int, copies);
    QFETCH(bool, collate);
    QFETCH(bool, accept);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ReadingsTable table;
    auto report = std::make_shared<CountingReport>(tableOf(table, 3 * 37 - 5));
    auto dialogs = std::make_shared<ScriptedPrinterDialogs>();
    dialogs->outputFile = dir.filePath(QStringLiteral("report.pdf"));
    dialogs->range = QPrinter::PrintRange(range);
    dialogs->pages = QPageRanges::fromString(pages);
    dialogs->copies = copies;
    dialogs->collate = collate;
    dialogs->accept = accept;
    PrintPreview preview(report, dialogs);
    action(preview, "nextPage")->trigger();

    action(preview, "print")->trigger();
    QCOMPARE(dialogs->lastPageOffered, 3);
    QVERIFY2(
        listed(report->printed) == expected,
        qPrintable(QStringLiteral("range %1 \"%2\", %3 copies%4: expected pages %5, printed %6")
                       .arg(range)
                       .arg(pages)
                       .arg(copies)
                       .arg(collate ? QStringLiteral(" collated") : QString())
                       .arg(expected, listed(report->printed))));
    const int expectedSheets = expected.isEmpty() ? 0 : int(expected.count(QLatin1Char(',')) + 1);
    if (expectedSheets == 0) {
        QVERIFY2(!QFile::exists(dialogs->outputFile), "a cancelled print wrote a file");
    } else {
        const int sheets = pdfPages(dialogs->outputFile);
        QVERIFY2(sheets == expectedSheets,
                 qPrintable(QStringLiteral("expected %1 pages in the PDF, found %2")
                                .arg(expectedSheets)
                                .arg(sheets)));
    }
    QVERIFY(!preview.isPrinting());
    QVERIFY(action(preview, "print")->isEnabled());
}

void PrintPreviewTest::printerThatCannotStartIsReported() {
    ReadingsTable table;
    auto report = std::make_shared<CountingReport>(tableOf(table, 1));
    auto printerDialogs = std::make_shared<ScriptedPrinterDialogs>();
    printerDialogs->outputFile = QStringLiteral("/nonexistent-directory/report.pdf");
    auto dialogs = std::make_shared<FakeDialogs>();
    PrintPreview preview(report, printerDialogs, dialogs);
    action(preview, "print")->trigger();
    QCOMPARE(dialogs->errors, QStringList{QStringLiteral("The printer could not be started.")});
    QVERIFY(report->printed.empty());
    QVERIFY(action(preview, "print")->isEnabled());
}

void PrintPreviewTest::closingTellsOnce() {
    ReadingsTable table;
    PrintPreview preview(std::make_shared<CountingReport>(tableOf(table, 1)));
    QSignalSpy closed(&preview, &PrintPreview::closed);
    preview.show();
    action(preview, "closePreview")->trigger();
    QCOMPARE(closed.count(), 1);
    QVERIFY(!preview.isVisible());
}

// The platform's print dialog, answered as a user would on a machine
// without a printer: "Print to File (PDF)", a file name, Print.
void PrintPreviewTest::platformDialogPrintsToAPdfFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("report.pdf"));
    ReadingsTable table;
    auto report = std::make_shared<CountingReport>(tableOf(table, 37 + 1));
    auto dialogs = std::make_shared<FakeDialogs>();
    PrintPreview preview(report, nullptr, dialogs);

    QString answered;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&answered, &answer, &output] {
        auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        auto* printers = dialog->findChild<QComboBox*>(QStringLiteral("printers"));
        auto* fileName = dialog->findChild<QLineEdit*>(QStringLiteral("filename"));
        const int toFile =
            printers ? printers->findText(QStringLiteral("Print to File (PDF)")) : -1;
        if (toFile < 0 || !fileName) {
            answered = QStringLiteral("the dialog offers no PDF file");
            dialog->reject();
            return;
        }
        printers->setCurrentIndex(toFile);
        fileName->setText(output);
        answered = QStringLiteral("printed to a file");
        dialog->accept();
    });
    answer.start(10);
    action(preview, "print")->trigger();
    answer.stop();

    QCOMPARE(answered, QStringLiteral("printed to a file"));
    QCOMPARE(dialogs->errors, QStringList());
    QCOMPARE(listed(report->printed), QStringLiteral("1,2"));
    QFile pdf(output);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QCOMPARE(pdf.read(4), QByteArray("%PDF"));
    QCOMPARE(pdfPages(output), 2);
}

QTEST_MAIN(PrintPreviewTest)
#include "PrintPreviewTest.moc"
