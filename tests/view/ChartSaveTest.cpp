#include "../record/DataFileSizeLimit.h"
#include "ChartTestWindow.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace qm45;

namespace {
const QRect kChartBounds(336, 187, 377, 286);
} // namespace

class ChartSaveTest : public QObject {
    Q_OBJECT

private slots:
    void savesBitmapOfOnScreenSize_data();
    void savesBitmapOfOnScreenSize();
    void unwritablePathShowsPlatformErrorOnly_data();
    void unwritablePathShowsPlatformErrorOnly();
    void failedWriteKeepsTheExistingPicture();
    void cancelledDialogWritesNothing();
    void enlargeCoversWindowAndSecondClickRestores();
};

void ChartSaveTest::savesBitmapOfOnScreenSize_data() {
    QTest::addColumn<bool>("enlarge");
    QTest::newRow("normal size") << false;
    QTest::newRow("enlarged") << true;
}

void ChartSaveTest::savesBitmapOfOnScreenSize() {
    QFETCH(bool, enlarge);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ChartTestWindow w;
    w.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    w.addReadings(150, 12000);
    if (enlarge)
        w.Panel19->TbFd->click();
    const QSize onScreen = w.Chtshow->size();
    QCOMPARE(onScreen == kChartBounds.size(), !enlarge);

    const QString path = dir.filePath(QStringLiteral("chart.bmp"));
    w.dialogs.nextFile.path = path;
    w.Panel19->BtSave->click();

    QCOMPARE(w.dialogs.fileRequests.size(), 1);
    QCOMPARE(w.dialogs.fileRequests[0].filters, QStringList{QStringLiteral("Bitmaps (*.bmp)")});
    QCOMPARE(w.dialogs.fileRequests[0].defaultSuffix, QStringLiteral("bmp"));
    QCOMPARE(w.dialogs.errors, QStringList());
    QCOMPARE(w.dialogs.informations, QStringList{QStringLiteral("Graphic has saved on ") + path});

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(2), QByteArray("BM"));
    file.close();
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("bmp"));
    const QImage saved = reader.read();
    QVERIFY2(saved.size() == onScreen,
             qPrintable(QStringLiteral("bitmap %1x%2, chart on screen %3x%4")
                            .arg(saved.width())
                            .arg(saved.height())
                            .arg(onScreen.width())
                            .arg(onScreen.height())));
    // The single black border around the chart is in the picture.
    QCOMPARE(saved.pixel(0, 0) & 0xFFFFFF, 0u);
    QCOMPARE(saved.pixel(saved.width() - 1, saved.height() / 2) & 0xFFFFFF, 0u);
}

void ChartSaveTest::unwritablePathShowsPlatformErrorOnly_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("errorNumber");
    QTest::newRow("missing folder") << "missing/chart.bmp" << ENOENT;
    QTest::newRow("a folder") << "." << EISDIR;
}

void ChartSaveTest::unwritablePathShowsPlatformErrorOnly() {
    QFETCH(QString, name);
    QFETCH(int, errorNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ChartTestWindow w;
    w.window.show();
    w.addReadings(250);
    w.Panel19->BtFirst->click();

    const QString path = dir.filePath(name);
    w.dialogs.nextFile.path = path;
    w.Panel19->BtSave->click();

    QCOMPARE(w.dialogs.informations, QStringList());
    QCOMPARE(w.dialogs.errors.size(), 1);
    const QString platform = QString::fromLocal8Bit(std::strerror(errorNumber));
    QVERIFY2(w.dialogs.errors[0].contains(platform) && w.dialogs.errors[0].contains(path),
             qPrintable(QStringLiteral("error \"%1\", expected the path and \"%2\"")
                            .arg(w.dialogs.errors[0], platform)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(w.Chtshow->geometry(), kChartBounds);
    QCOMPARE(w.Chtshow->bottomMinimum(), 1.0);
    QCOMPARE(w.control().CurrentPage(), 1);
    QCOMPARE(w.Panel19->Bt10->text(), QStringLiteral("1"));
}

void ChartSaveTest::failedWriteKeepsTheExistingPicture() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ChartTestWindow w;
    w.window.show();
    w.addReadings(150, 12000);
    const QString path = dir.filePath(QStringLiteral("chart.bmp"));
    const QByteArray oldPicture = "BM an older picture";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(oldPicture), oldPicture.size());
    }

    // The chart's bitmap is some 300 KiB: the write fails half-way, as on a
    // full disk.
    w.dialogs.nextFile.path = path;
    {
        DataFileSizeLimit limit(64 * 1024);
        QVERIFY(limit.active());
        w.Panel19->BtSave->click();
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), oldPicture);
    QCOMPARE(w.dialogs.informations, QStringList());
    QCOMPARE(w.dialogs.errors.size(), 1);
    const QString tooLarge = QString::fromLocal8Bit(std::strerror(EFBIG));
    QVERIFY2(w.dialogs.errors[0].contains(path) && w.dialogs.errors[0].contains(tooLarge),
             qPrintable(w.dialogs.errors[0]));
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("chart.bmp")});
}

void ChartSaveTest::cancelledDialogWritesNothing() {
    ChartTestWindow w;
    w.Panel19->BtSave->click();
    QCOMPARE(w.dialogs.fileRequests.size(), 1);
    QCOMPARE(w.dialogs.informations, QStringList());
    QCOMPARE(w.dialogs.errors, QStringList());
}

void ChartSaveTest::enlargeCoversWindowAndSecondClickRestores() {
    ChartTestWindow w;
    w.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    w.Panel19->TbFd->click();
    // Down to the client area's bottom edge, 2 pixels in from either side,
    // whatever frame the window manager puts around the window.
    QCOMPARE(w.Chtshow->geometry(), QRect(2, 28, 716 - 4, 474 - 28));
    QCOMPARE(w.Panel19->pos(), QPoint(4, 2));
    QVERIFY(!w.Panel4->isVisible() && !w.Panel6->isVisible());
    QVERIFY(!w.Panel19->TbFd->isVisible() && w.Panel19->TbSx->isVisible());
    QVERIFY(w.panel->enlarged());
    // The chart covers the LCD replica, the tool bar stays in front of the chart.
    QCOMPARE(w.window.childAt(w.lcd->geometry().center()), static_cast<QWidget*>(w.Chtshow));
    QWidget* atToolbar = w.window.childAt(w.Panel19->geometry().center());
    QVERIFY2(atToolbar == w.Panel19 || w.Panel19->isAncestorOf(atToolbar),
             "tool bar hidden behind the chart");

    // Paging goes on while enlarged.
    w.addReadings(150);
    QCOMPARE(w.Panel19->Bt10->text(), QStringLiteral("2"));

    w.Panel19->TbSx->click();
    QCOMPARE(w.Chtshow->geometry(), kChartBounds);
    QCOMPARE(w.Panel19->pos(), QPoint(337, 152));
    QVERIFY(w.Panel4->isVisible() && w.Panel6->isVisible());
    QVERIFY(w.Panel19->TbFd->isVisible() && !w.Panel19->TbSx->isVisible());
    QVERIFY(!w.panel->enlarged());
}

QTEST_MAIN(ChartSaveTest)
#include "ChartSaveTest.moc"
