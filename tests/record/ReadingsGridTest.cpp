#include "record/ReadingsGrid.h"
#include "record/ReadingsModel.h"
#include "record/ReadingsTable.h"
#include "record/ReadingsView.h"
#include "record/RowIndicatorHeader.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace qm45;

namespace {

ReadingRow row(std::int32_t no) {
    ReadingRow r;
    r.no = no;
    r.time = QStringLiteral("08:15:00");
    r.dcac = QStringLiteral("AC");
    r.value = QString::number(no);
    r.unit = QStringLiteral("mV");
    r.judge = QStringLiteral("pass");
    return r;
}

// DBGrid1 as the window places it, shown on the offscreen platform.
struct Window {
    ReadingsTable table;
    ReadingsModel model{table};
    std::unique_ptr<ReadingsView> view = std::make_unique<ReadingsView>();
    ReadingsGrid grid{view.get(), model};

    Window() {
        view->resize(334, 264);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qWarning("grid window not exposed");
    }

    // True when the last row lies wholly inside the viewport.
    bool newestRowVisible() const {
        const QRect cell = view->visualRect(model.index(model.rowCount() - 1, 0));
        return cell.isValid() && cell.top() >= 0 && cell.bottom() < view->viewport()->height();
    }
    QString where() const {
        const QScrollBar* bar = view->verticalScrollBar();
        return QStringLiteral("rows %1, current row %2, scroll bar %3 of %4")
            .arg(model.rowCount())
            .arg(view->currentIndex().row())
            .arg(bar->value())
            .arg(bar->maximum());
    }
};

} // namespace

class ReadingsGridTest : public QObject {
    Q_OBJECT
private slots:
    void columnsHaveTheirWidthsAndTitles();
    void gridIsReadOnlyWithFixedRowsAndAnIndicator();
    void fullTimesAndValuesFitTheirCells();
    void followsTheNewestRowAfterTheInterval();
    void userScrollIsOverriddenByTheNextAppend();
    void frozenGridNeitherGrowsNorFollows();
    void closeDataEmptiesTheGrid();
};

void ReadingsGridTest::columnsHaveTheirWidthsAndTitles() {
    Window w;
    const QHeaderView* titles = w.view->horizontalHeader();
    QCOMPARE(titles->count(), 6);
    for (int column = 0; column < 6; ++column) {
        const int expected = ReadingsGrid::kColumnWidths[std::size_t(column)];
        QVERIFY2(titles->sectionSize(column) == expected,
                 qPrintable(QStringLiteral("column %1: expected width %2, got %3")
                                .arg(column)
                                .arg(expected)
                                .arg(titles->sectionSize(column))));
    }
    QCOMPARE(titles->sectionResizeMode(0), QHeaderView::Interactive);
    QCOMPARE(titles->font().pixelSize(), ReadingsGrid::kTitlePixelSize);
    QCOMPARE(w.view->font().pixelSize(), ReadingsGrid::kDataPixelSize);
    QVERIFY2(w.view->font().families().contains(QStringLiteral("Liberation Sans")),
             qPrintable(w.view->font().families().join(QLatin1Char(','))));
}

void ReadingsGridTest::gridIsReadOnlyWithFixedRowsAndAnIndicator() {
    Window w;
    w.model.appendBatch({row(1), row(2)});
    QCOMPARE(w.view->editTriggers(), QAbstractItemView::NoEditTriggers);
    const QHeaderView* indicator = w.view->verticalHeader();
    QVERIFY(qobject_cast<const RowIndicatorHeader*>(indicator));
    QVERIFY(indicator->isVisible());
    QCOMPARE(indicator->width(), RowIndicatorHeader::kWidth);

    // Rows are the data font's height and 4 pixels high, the grid line
    // included, and dragging the border between two rows on the indicator
    // leaves them so.
    const int rowHeight = QFontMetrics(w.view->font()).height() + 4;
    const QRect first = w.view->visualRect(w.model.index(0, 0));
    const QPoint border(RowIndicatorHeader::kWidth / 2, first.bottom() + 1);
    QTest::mousePress(indicator->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseMove(indicator->viewport(), border + QPoint(0, 10));
    QTest::mouseRelease(indicator->viewport(), Qt::LeftButton, {}, border + QPoint(0, 10));
    const QRect second = w.view->visualRect(w.model.index(1, 0));
    QVERIFY2(first.top() == 0 && second.top() == rowHeight && second.height() == first.height(),
             qPrintable(QStringLiteral("expected rows %1 pixels apart; "
                                       "row 0 at %2, %3 high; row 1 at %4, %5 high")
                            .arg(rowHeight)
                            .arg(first.top())
                            .arg(first.height())
                            .arg(second.top())
                            .arg(second.height())));

    // Typing into a cell changes nothing.
    w.view->setCurrentIndex(w.model.index(0, ReadingsModel::ColValue));
    QTest::keyClicks(w.view.get(), QStringLiteral("99"));
    QTest::keyClick(w.view.get(), Qt::Key_Return);
    QCOMPARE(w.table.text(0, Field::value), QStringLiteral("1"));
}

void ReadingsGridTest::followsTheNewestRowAfterTheInterval() {
    Window w;
    QSignalSpy inserted(&w.model, &QAbstractItemModel::rowsInserted);
    for (int i = 1; i <= 500; ++i)
        w.model.append(row(i));
    QCOMPARE(w.model.rowCount(), 0);
    QTRY_COMPARE(w.model.rowCount(), 500);
    QCOMPARE(inserted.count(), 1);
    QVERIFY2(w.view->currentIndex().row() == 499, qPrintable(w.where()));
    QVERIFY2(w.newestRowVisible(), qPrintable(w.where()));
    QVERIFY2(w.view->verticalScrollBar()->value() == w.view->verticalScrollBar()->maximum(),
             qPrintable(w.where()));

    w.model.append(row(501));
    QTRY_COMPARE(w.model.rowCount(), 501);
    QVERIFY2(w.view->currentIndex().row() == 500 && w.newestRowVisible(), qPrintable(w.where()));
}

void ReadingsGridTest::userScrollIsOverriddenByTheNextAppend() {
    Window w;
    std::vector<ReadingRow> rows;
    for (int i = 1; i <= 300; ++i)
        rows.push_back(row(i));
    w.model.appendBatch(rows);
    w.view->verticalScrollBar()->setValue(0);
    QVERIFY(!w.newestRowVisible());
    w.model.append(row(301));
    QTRY_COMPARE(w.model.rowCount(), 301);
    QVERIFY2(w.newestRowVisible() && w.view->currentIndex().row() == 300, qPrintable(w.where()));
}

void ReadingsGridTest::frozenGridNeitherGrowsNorFollows() {
    Window w;
    std::vector<ReadingRow> rows;
    for (int i = 1; i <= 100; ++i)
        rows.push_back(row(i));
    w.model.appendBatch(rows);
    w.view->verticalScrollBar()->setValue(0);
    w.model.freeze();
    w.model.appendBatch(rows);
    for (int i = 0; i < 20; ++i)
        w.model.append(row(1000 + i));
    QTest::qWait(3 * ReadingsModel::kRefreshIntervalMs);
    QVERIFY2(w.model.rowCount() == 100 && w.view->verticalScrollBar()->value() == 0,
             qPrintable(w.where()));

    w.model.thaw();
    QVERIFY2(w.model.rowCount() == 220 && w.newestRowVisible() &&
                 w.view->currentIndex().row() == 219,
             qPrintable(w.where()));
}

void ReadingsGridTest::closeDataEmptiesTheGrid() {
    Window w;
    std::vector<ReadingRow> rows;
    for (int i = 1; i <= 100; ++i)
        rows.push_back(row(i));
    w.model.appendBatch(rows);
    QVERIFY2(w.view->verticalScrollBar()->maximum() > 0, qPrintable(w.where()));
    w.model.clear();
    QCOMPARE(w.model.rowCount(), 0);
    QCoreApplication::processEvents();
    QVERIFY2(!w.view->indexAt(QPoint(5, 5)).isValid() &&
                 w.view->verticalScrollBar()->maximum() == 0,
             qPrintable(w.where()));
    w.model.append(row(1));
    QTRY_COMPARE(w.model.rowCount(), 1);
    QVERIFY2(w.view->currentIndex().row() == 0, qPrintable(w.where()));
}

// The text room a cell leaves, measured the way the grid's delegate lays a
// cell out, must hold the widest texts the recorder writes.
void ReadingsGridTest::fullTimesAndValuesFitTheirCells() {
    Window w;
    ReadingRow wide = row(1);
    wide.time = QStringLiteral("23:59:59");
    wide.value = QStringLiteral("-3.9999");
    w.model.append(wide);
    w.model.refresh();
    const QFontMetrics metrics(w.view->font());
    for (const int column : {int(ReadingsModel::ColTime), int(ReadingsModel::ColValue)}) {
        const QModelIndex index = w.model.index(0, column);
        QStyleOptionViewItem option;
        option.initFrom(w.view.get());
        option.rect = w.view->visualRect(index);
        option.font = w.view->font();
        option.text = index.data().toString();
        option.features |= QStyleOptionViewItem::HasDisplay;
        // The style draws the text inside its rectangle less a margin either side.
        QStyle* style = w.view->style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w.view.get()) + 1;
        const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &option, w.view.get()).width() - 2 * margin;
        const int needed = metrics.horizontalAdvance(option.text);
        QVERIFY2(needed <= room, qPrintable(QStringLiteral("\"%1\" needs %2 pixels, the cell leaves %3")
                                                        .arg(option.text)
                                                        .arg(needed)
                                                        .arg(room)));
    }
}

QTEST_MAIN(ReadingsGridTest)
#include "ReadingsGridTest.moc"
