#include "record/ReadingsView.h"
#include "record/ReadingsGrid.h"
#include "record/ReadingsModel.h"
#include "record/ReadingsTable.h"
#include "record/RowIndicatorHeader.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest>

#include <limits>
#include <memory>

using namespace qm45;

namespace {

constexpr int kRowHeight = 18;
constexpr int kWholeRows = 13;
// Thirteen whole rows and half of a fourteenth.
constexpr int kViewportHeight = kWholeRows * kRowHeight + kRowHeight / 2;
constexpr int kAllRows = std::numeric_limits<int>::max();

// A table of any size whose cells are computed, not stored.
class ComputedRows final : public QAbstractTableModel {
public:
    explicit ComputedRows(int rows) : rows_(rows) {}
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : rows_;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 6;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        return QStringLiteral("%1/%2").arg(index.row()).arg(index.column());
    }
    void resize(int rows) {
        beginResetModel();
        rows_ = rows;
        endResetModel();
    }

private:
    int rows_;
};

// A shown view over computed rows, with rows and a viewport of known height.
struct LargeTable {
    ComputedRows rows;
    ReadingsView view;

    explicit LargeTable(int count) : rows(count) {
        view.setVerticalHeader(new RowIndicatorHeader);
        view.verticalHeader()->setDefaultSectionSize(kRowHeight);
        view.setModel(&rows);
        view.resize(334, 264);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view))
            qWarning("view not exposed");
        view.resize(334, view.height() - view.viewport()->height() + kViewportHeight);
        QCoreApplication::processEvents();
    }

    [[nodiscard]] bool ready() const {
        return view.viewport()->height() == kViewportHeight && view.wholeRowsShown() == kWholeRows;
    }
    [[nodiscard]] QScrollBar* bar() const { return view.verticalScrollBar(); }
    [[nodiscard]] bool currentWhollyShown() const {
        const QRect cell = view.visualRect(view.currentIndex());
        return cell.isValid() && cell.top() >= 0 && cell.bottom() < view.viewport()->height();
    }
    [[nodiscard]] QString where() const {
        return QStringLiteral(
                   "rows %1, first shown %2, scroll bar %3 of %4, current row %5 column %6")
            .arg(rows.rowCount())
            .arg(view.firstWholeRow())
            .arg(bar()->value())
            .arg(bar()->maximum())
            .arg(view.currentIndex().row())
            .arg(view.currentIndex().column());
    }
};

ReadingRow reading(int i) {
    ReadingRow r;
    r.no = i + 1;
    r.time = QStringLiteral("12:%1:%2")
                 .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                 .arg(i % 60, 2, 10, QLatin1Char('0'));
    r.dcac = i % 7 == 0 ? QStringLiteral("AC") : QStringLiteral("DC");
    r.value = QString::number((i * 7919) % 40000 / 10000.0 - 2, 'f', 4);
    r.unit = i % 5 == 0 ? QStringLiteral("k*") : QStringLiteral("mV");
    r.judge = i % 11 == 0 ? QStringLiteral("Fail") : QStringLiteral("pass");
    return r;
}

// Where two images differ first within lines fromY to toY, or an empty text
// when they are the same there.
QString firstDifference(const QImage& expected, const QImage& actual, int fromY = 0,
                        int toY = std::numeric_limits<int>::max()) {
    if (expected.size() != actual.size())
        return QStringLiteral("sizes differ: expected %1x%2, got %3x%4")
            .arg(expected.width())
            .arg(expected.height())
            .arg(actual.width())
            .arg(actual.height());
    const int lastY = std::min(toY, expected.height() - 1);
    for (int y = std::max(0, fromY); y <= lastY; ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (expected.pixel(x, y) != actual.pixel(x, y))
                return QStringLiteral("pixel (%1,%2): expected #%3, got #%4")
                    .arg(x)
                    .arg(y)
                    .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(actual.pixel(x, y), 8, 16, QLatin1Char('0'));
        }
    }
    return {};
}

} // namespace

class ReadingsViewTest : public QObject {
    Q_OBJECT
private slots:
    void drawsTheGridAsQTableViewDoes_data();
    void drawsTheGridAsQTableViewDoes();
    void rowsLieWhereTheScrollBarSays_data();
    void rowsLieWhereTheScrollBarSays();
    void keysMoveThroughTheWholeTable_data();
    void keysMoveThroughTheWholeTable();
    void scrollToPlacesTheRowAsAsked();
    void clickAndWheelReachRowsDeepInTheTable();
    void layoutKeepsTheFirstRowShownAndTheBarFollowsTheTable();
};

// The grid as the window shows it, painted by this view and by a plain
// QTableView with a stock vertical header, must look the same, but for the
// triangle at the current row.
void ReadingsViewTest::drawsTheGridAsQTableViewDoes_data() {
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<int>("firstShown");
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<int>("narrowColumn");
    QTest::newRow("empty table") << 0 << 0 << -1 << -1;
    QTest::newRow("fewer rows than fit") << 5 << 0 << 3 << -1;
    QTest::newRow("top, first row current") << 500 << 0 << 0 << -1;
    QTest::newRow("middle, half a row at the foot") << 500 << 200 << 205 << -1;
    QTest::newRow("end") << 500 << 500 << 499 << -1;
    QTest::newRow("narrowed column elides its text") << 500 << 37 << 40 << 3;
}

void ReadingsViewTest::drawsTheGridAsQTableViewDoes() {
    QFETCH(int, rowCount);
    QFETCH(int, firstShown);
    QFETCH(int, currentRow);
    QFETCH(int, narrowColumn);

    ReadingsTable table;
    for (int i = 0; i < rowCount; ++i)
        table.append(reading(i));
    ReadingsModel fastModel(table);
    ReadingsModel plainModel(table);
    // One window for both, so that both paint as active or both as inactive.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* fast = new ReadingsView;
    auto* plain = new QTableView;
    for (QTableView* view : {static_cast<QTableView*>(fast), plain}) {
        view->setFixedSize(334, 264);
        // Neither takes the focus, which would mark its current cell.
        view->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(view);
    }
    ReadingsGrid fastGrid(fast, fastModel);
    ReadingsGrid plainGrid(plain, plainModel);
    auto* stock = new QHeaderView(Qt::Vertical);
    stock->setFixedWidth(RowIndicatorHeader::kWidth);
    stock->setHighlightSections(false);
    stock->setSectionsClickable(false);
    stock->setMinimumSectionSize(1);
    stock->setDefaultSectionSize(fast->verticalHeader()->defaultSectionSize());
    stock->setSectionResizeMode(QHeaderView::Fixed);
    plain->setVerticalHeader(stock);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    for (QTableView* view : {static_cast<QTableView*>(fast), plain}) {
        if (narrowColumn >= 0)
            view->horizontalHeader()->resizeSection(narrowColumn, 20);
        if (currentRow >= 0)
            view->selectionModel()->setCurrentIndex(view->model()->index(currentRow, 2),
                                                    QItemSelectionModel::ClearAndSelect);
        view->verticalScrollBar()->setValue(firstShown);
    }
    QCoreApplication::processEvents();
    const QString state = QStringLiteral("first shown %1 and %2, current row %3")
                              .arg(fast->firstWholeRow())
                              .arg(plain->verticalScrollBar()->value())
                              .arg(currentRow);
    QVERIFY2(fast->verticalScrollBar()->value() == plain->verticalScrollBar()->value(),
             qPrintable(state));

    const QString cells =
        firstDifference(plain->viewport()->grab().toImage(), fast->viewport()->grab().toImage());
    QVERIFY2(cells.isEmpty(), qPrintable(QStringLiteral("cells, %1: %2").arg(state, cells)));

    const QImage stockRows = stock->grab().toImage();
    const QImage indicatorRows = fast->verticalHeader()->grab().toImage();
    if (currentRow < 0) {
        const QString rows = firstDifference(stockRows, indicatorRows);
        QVERIFY2(rows.isEmpty(), qPrintable(QStringLiteral("indicator, %1: %2").arg(state, rows)));
        return;
    }
    const QRect marked = fast->visualRect(fast->currentIndex());
    const QString above = firstDifference(stockRows, indicatorRows, 0, marked.top() - 1);
    const QString below = firstDifference(stockRows, indicatorRows, marked.top() + kRowHeight);
    QVERIFY2(
        above.isEmpty() && below.isEmpty(),
        qPrintable(
            QStringLiteral("indicator beside the current row, %1: %2%3").arg(state, above, below)));
    const QString inMarkedRow =
        firstDifference(stockRows, indicatorRows, marked.top(), marked.top() + kRowHeight - 1);
    QVERIFY2(!inMarkedRow.isEmpty(),
             qPrintable(QStringLiteral("no triangle at the current row, %1").arg(state)));
}

void ReadingsViewTest::rowsLieWhereTheScrollBarSays_data() {
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<int>("firstShown");
    QTest::newRow("ten million, top") << 10000000 << 0;
    QTest::newRow("ten million, middle") << 10000000 << 5000000;
    QTest::newRow("ten million, end") << 10000000 << 10000000 - kWholeRows;
    QTest::newRow("int max, middle") << kAllRows << kAllRows / 2;
    QTest::newRow("int max, end") << kAllRows << kAllRows - kWholeRows;
}

void ReadingsViewTest::rowsLieWhereTheScrollBarSays() {
    QFETCH(int, rowCount);
    QFETCH(int, firstShown);
    LargeTable t(rowCount);
    QVERIFY2(t.ready(), qPrintable(t.where()));
    QVERIFY2(t.bar()->isVisible() && t.bar()->maximum() == rowCount - kWholeRows,
             qPrintable(t.where()));
    QVERIFY2(t.view.verticalHeader()->count() == 0,
             qPrintable(QStringLiteral("the vertical header holds %1 sections")
                            .arg(t.view.verticalHeader()->count())));

    t.bar()->setValue(firstShown);
    QCOMPARE(t.view.firstWholeRow(), firstShown);
    // The first whole row lies at the viewport's top; at the end of the
    // range, the last row lies on the viewport's foot instead, below part of
    // the row before the first whole one.
    const bool atEnd = firstShown == t.bar()->maximum();
    const int lastShown = std::min(rowCount - 1, firstShown + kWholeRows);
    const QRect firstCell = t.view.visualRect(t.rows.index(firstShown, 4));
    const QRect lastCell = t.view.visualRect(t.rows.index(lastShown, 4));
    const QModelIndex atTop = t.view.indexAt(QPoint(10, 0));
    if (atEnd) {
        QVERIFY2(lastShown == rowCount - 1 && lastCell.top() + kRowHeight == kViewportHeight &&
                     atTop.row() == firstShown - 1,
                 qPrintable(QStringLiteral("last row at %1, row %2 at the top; %3")
                                .arg(lastCell.top())
                                .arg(atTop.row())
                                .arg(t.where())));
    } else {
        QVERIFY2(firstCell.top() == 0 && atTop.row() == firstShown,
                 qPrintable(QStringLiteral("first row at %1, row %2 at the top; %3")
                                .arg(firstCell.top())
                                .arg(atTop.row())
                                .arg(t.where())));
    }
    for (int row = firstShown; row <= lastShown; ++row) {
        const QModelIndex index = t.rows.index(row, 4);
        const QRect cell = t.view.visualRect(index);
        const int expectedTop = firstCell.top() + (row - firstShown) * kRowHeight;
        const QModelIndex hit = t.view.indexAt(cell.center());
        QVERIFY2(
            cell.top() == expectedTop && hit == index,
            qPrintable(QStringLiteral(
                           "row %1: expected top %2, got %3; indexAt gives row %4 column %5; %6")
                           .arg(row)
                           .arg(expectedTop)
                           .arg(cell.top())
                           .arg(hit.row())
                           .arg(hit.column())
                           .arg(t.where())));
    }
    const int belowLast = lastCell.top() + kRowHeight + 1;
    if (lastShown == rowCount - 1 && belowLast < kViewportHeight) {
        const QModelIndex none = t.view.indexAt(QPoint(10, belowLast));
        QVERIFY2(!none.isValid(), qPrintable(QStringLiteral("below the last row, row %1 found; %2")
                                                 .arg(none.row())
                                                 .arg(t.where())));
    }
    const QRect farAbove = t.view.visualRect(t.rows.index(0, 0));
    QVERIFY2(
        firstShown == 0 || farAbove.bottom() < 0,
        qPrintable(QStringLiteral("row 0 placed at %1; %2").arg(farAbove.top()).arg(t.where())));
}

void ReadingsViewTest::keysMoveThroughTheWholeTable_data() {
    QTest::addColumn<int>("startFirstShown");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<int>("startColumn");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("expectedRow");
    QTest::addColumn<int>("expectedColumn");
    QTest::addColumn<int>("expectedFirstShown");
    const int last = kAllRows - 1;
    const int endFirst = kAllRows - kWholeRows;
    QTest::newRow("down from the foot scrolls a row")
        << 0 << kWholeRows - 1 << 2 << int(Qt::Key_Down) << 0 << kWholeRows << 2 << 1;
    QTest::newRow("up from the top scrolls a row")
        << 1000 << 1000 << 2 << int(Qt::Key_Up) << 0 << 999 << 2 << 999;
    QTest::newRow("page down moves a page of whole rows")
        << 1000 << 1000 << 3 << int(Qt::Key_PageDown) << 0 << 1000 + kWholeRows << 3 << 1000 + 1;
    QTest::newRow("page up moves a page of whole rows")
        << 1000 << 1000 << 3 << int(Qt::Key_PageUp) << 0 << 1000 - kWholeRows << 3
        << 1000 - kWholeRows;
    QTest::newRow("control end goes to the table's last cell")
        << 0 << 0 << 0 << int(Qt::Key_End) << int(Qt::ControlModifier) << last << 5 << endFirst;
    QTest::newRow("control home goes to the first cell")
        << endFirst << last << 4 << int(Qt::Key_Home) << int(Qt::ControlModifier) << 0 << 0 << 0;
    QTest::newRow("end stays in the row")
        << 1000 << 1000 << 1 << int(Qt::Key_End) << 0 << 1000 << 5 << 1000;
    QTest::newRow("tab from the last column goes to the next row")
        << 1000 << 1000 << 5 << int(Qt::Key_Tab) << 0 << 1001 << 0 << 1000;
    QTest::newRow("backtab from the first column goes to the row before")
        << 1000 << 1000 << 0 << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << 999 << 5 << 999;
    QTest::newRow("down at the last row stays")
        << endFirst << last << 2 << int(Qt::Key_Down) << 0 << last << 2 << endFirst;
    QTest::newRow("up at the first row stays")
        << 0 << 0 << 2 << int(Qt::Key_Up) << 0 << 0 << 2 << 0;
}

void ReadingsViewTest::keysMoveThroughTheWholeTable() {
    QFETCH(int, startFirstShown);
    QFETCH(int, startRow);
    QFETCH(int, startColumn);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, expectedRow);
    QFETCH(int, expectedColumn);
    QFETCH(int, expectedFirstShown);
    LargeTable t(kAllRows);
    QVERIFY2(t.ready(), qPrintable(t.where()));
    t.bar()->setValue(startFirstShown);
    t.view.setCurrentIndex(t.rows.index(startRow, startColumn));
    QVERIFY2(t.view.firstWholeRow() == startFirstShown && t.currentWhollyShown(),
             qPrintable(t.where()));

    QTest::keyClick(&t.view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCoreApplication::processEvents();
    QVERIFY2(t.view.currentIndex().row() == expectedRow &&
                 t.view.currentIndex().column() == expectedColumn,
             qPrintable(QStringLiteral("expected row %1 column %2; %3")
                            .arg(expectedRow)
                            .arg(expectedColumn)
                            .arg(t.where())));
    QVERIFY2(t.view.firstWholeRow() == expectedFirstShown && t.currentWhollyShown(),
             qPrintable(QStringLiteral("expected first shown %1 with the current row whole; %2")
                            .arg(expectedFirstShown)
                            .arg(t.where())));
}

void ReadingsViewTest::scrollToPlacesTheRowAsAsked() {
    LargeTable t(10000000);
    QVERIFY2(t.ready(), qPrintable(t.where()));
    const int first = 1000000;
    // Rows above the middle of the viewport: half its height in whole rows,
    // less the row itself.
    const int aboveCentre = kViewportHeight / 2 / kRowHeight - 1;
    struct Case {
        const char* name;
        QAbstractItemView::ScrollHint hint;
        int row;
        int expectedFirst;
    };
    const Case cases[] = {
        {"ensure visible, shown", QAbstractItemView::EnsureVisible, first + 5, first},
        {"ensure visible, above", QAbstractItemView::EnsureVisible, first - 10, first - 10},
        {"ensure visible, below", QAbstractItemView::EnsureVisible, first + 40,
         first + 40 - kWholeRows + 1},
        {"ensure visible, half shown at the foot", QAbstractItemView::EnsureVisible,
         first + kWholeRows, first + 1},
        {"at top", QAbstractItemView::PositionAtTop, 42, 42},
        {"at bottom", QAbstractItemView::PositionAtBottom, 5000000, 5000000 - kWholeRows + 1},
        {"at centre", QAbstractItemView::PositionAtCenter, 5000000, 5000000 - aboveCentre},
        {"at top near the end", QAbstractItemView::PositionAtTop, 10000000 - 3,
         10000000 - kWholeRows},
        {"at bottom near the start", QAbstractItemView::PositionAtBottom, 2, 0},
    };
    for (const Case& c : cases) {
        t.bar()->setValue(first);
        t.view.scrollTo(t.rows.index(c.row, 1), c.hint);
        QVERIFY2(t.view.firstWholeRow() == c.expectedFirst,
                 qPrintable(QStringLiteral("%1, row %2: expected first shown %3; %4")
                                .arg(QLatin1String(c.name))
                                .arg(c.row)
                                .arg(c.expectedFirst)
                                .arg(t.where())));
    }
}

void ReadingsViewTest::clickAndWheelReachRowsDeepInTheTable() {
    LargeTable t(kAllRows);
    QVERIFY2(t.ready(), qPrintable(t.where()));
    const int first = 1234567890;
    t.bar()->setValue(first);
    QCoreApplication::processEvents();

    const QModelIndex target = t.rows.index(first + 4, 3);
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.view.visualRect(target).center());
    QVERIFY2(
        t.view.currentIndex() == target && t.view.selectionModel()->isSelected(target),
        qPrintable(QStringLiteral("clicked row %1 column 3; %2").arg(first + 4).arg(t.where())));

    const QPoint inside = t.view.viewport()->rect().center();
    QWheelEvent wheel(inside, t.view.viewport()->mapToGlobal(inside), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(t.view.viewport(), &wheel);
    const int expected = first + QApplication::wheelScrollLines();
    QVERIFY2(t.view.firstWholeRow() == expected,
             qPrintable(QStringLiteral("one notch down: expected first shown %1; %2")
                            .arg(expected)
                            .arg(t.where())));
    const QRect moved = t.view.visualRect(target);
    QCOMPARE(moved.top(), (4 - QApplication::wheelScrollLines()) * kRowHeight);
}

void ReadingsViewTest::layoutKeepsTheFirstRowShownAndTheBarFollowsTheTable() {
    LargeTable t(10000000);
    QVERIFY2(t.ready(), qPrintable(t.where()));
    t.bar()->setValue(4000000);

    t.view.resize(t.view.width(), t.view.height() + 5 * kRowHeight);
    QCoreApplication::processEvents();
    QVERIFY2(t.view.firstWholeRow() == 4000000 && t.bar()->maximum() == 10000000 - (kWholeRows + 5),
             qPrintable(QStringLiteral("after growing by five rows: %1").arg(t.where())));

    t.rows.resize(0);
    // The scroll area shows or hides its bars from the event loop.
    QTRY_VERIFY2(t.bar()->maximum() == 0 && !t.bar()->isVisible() &&
                     !t.view.indexAt(QPoint(10, 5)).isValid(),
                 qPrintable(QStringLiteral("after emptying: %1, bar visible %2")
                                .arg(t.where())
                                .arg(t.bar()->isVisible())));

    t.rows.resize(100);
    QTRY_VERIFY2(t.bar()->isVisible() && t.bar()->maximum() == 100 - (kWholeRows + 5) &&
                     t.view.indexAt(QPoint(10, 5)).row() == 0,
                 qPrintable(QStringLiteral("after refilling: %1, bar visible %2")
                                .arg(t.where())
                                .arg(t.bar()->isVisible())));
}

QTEST_MAIN(ReadingsViewTest)
#include "ReadingsViewTest.moc"
