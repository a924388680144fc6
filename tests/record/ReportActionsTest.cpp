#include "record/ReportActions.h"
#include "record/PrintPreview.h"
#include "record/ReadingsTable.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QtTest>

using namespace qm45;

namespace {

void appendRows(ReadingsTable& table, int count) {
    ReadingRow row;
    row.time = QStringLiteral("09:30:00");
    row.value = QStringLiteral("0.001");
    row.unit = QStringLiteral("mV");
    row.judge = QStringLiteral("pass");
    for (int i = 0; i < count; ++i) {
        row.no = std::int32_t(table.rowCount() + 1);
        table.append(row);
    }
}

int openPreviews() {
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        open += qobject_cast<PrintPreview*>(w) && w->isVisible();
    return open;
}

// The window around the Print button: a table, a grid that can be frozen.
struct Window {
    QWidget widget;
    ReadingsTable table;
    int freezes = 0;
    int thaws = 0;
    ReportActions actions{table, &widget, {[this] { ++freezes; }, [this] { ++thaws; }}};
};

} // namespace

class ReportActionsTest : public QObject {
    Q_OBJECT
private slots:
    void secondClickWhileThePreviewIsOpenDoesNothing();
    void previewShowsTheRowsPresentWhenItOpened();
    void gridStaysFrozenUntilThePreviewCloses();
};

void ReportActionsTest::secondClickWhileThePreviewIsOpenDoesNothing() {
    Window window;
    appendRows(window.table, 10);
    window.actions.BtPrintClick();
    const QPointer<PrintPreview> first = window.actions.preview();
    QVERIFY(first);
    window.actions.BtPrintClick();
    QCOMPARE(window.actions.preview(), first.data());
    QCOMPARE(openPreviews(), 1);
    QCOMPARE(window.freezes, 1);
    QCOMPARE(window.thaws, 0);
    first->close();
}

void ReportActionsTest::previewShowsTheRowsPresentWhenItOpened() {
    Window window;
    appendRows(window.table, 37);
    window.actions.BtPrintClick();
    PrintPreview* preview = window.actions.preview();
    QCOMPARE(preview->pageCount(), std::int64_t(1));

    // The recorder goes on while the preview is open, and Close Data may empty
    // the table: the open report keeps its rows.
    appendRows(window.table, 40);
    QCOMPARE(preview->pageCount(), std::int64_t(1));
    window.table.clear();
    appendRows(window.table, 75);
    QCOMPARE(preview->pageCount(), std::int64_t(1));

    preview->close();
    QCOMPARE(window.actions.preview(), nullptr);
    window.actions.BtPrintClick();
    QVERIFY(window.actions.preview());
    QCOMPARE(window.actions.preview()->pageCount(), std::int64_t(3));
    window.actions.preview()->close();
}

void ReportActionsTest::gridStaysFrozenUntilThePreviewCloses() {
    Window window;
    appendRows(window.table, 1);
    window.actions.BtPrintClick();
    QPointer<PrintPreview> preview = window.actions.preview();
    QCOMPARE(window.freezes, 1);
    QCOMPARE(window.thaws, 0);
    QCoreApplication::processEvents();
    QCOMPARE(window.thaws, 0);

    preview->findChild<QAction*>(QStringLiteral("closePreview"))->trigger();
    QCOMPARE(window.thaws, 1);
    // The closed preview goes away with its pages.
    QTRY_VERIFY(!preview);
    QCOMPARE(window.thaws, 1);
    QCOMPARE(openPreviews(), 0);

    window.actions.BtPrintClick();
    QCOMPARE(window.freezes, 2);
    window.actions.preview()->close();
    QCOMPARE(window.thaws, 2);
}

QTEST_MAIN(ReportActionsTest)
#include "ReportActionsTest.moc"
