#include "record/ReportPainter.h"
#include "record/ReadingsTable.h"

#include "ReportExpectations.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

using namespace qm45;
using namespace report_expect;

namespace {

// A paint device that keeps each text the painter hands over, with the
// transformation in force, so positions and sizes can be read back in
// millimetres. Device pixels are 0.1 mm.
class TextRecorder final : public QPaintDevice {
public:
    static constexpr double kDotsPerMm = 10.0;

    struct Drawn {
        QString text;
        QFont font;
        QPointF baseline; // device pixels
        double scale;     // device pixels per font pixel
        QColor pen;
    };

    // Qt hands a text over in runs of one script each ("k" and the ohm sign
    // of "kΩ" come separately); runs that continue one another on the same
    // baseline are joined back into the text that was drawn.
    std::vector<Drawn> drawn() const {
        std::vector<Drawn> texts;
        for (const Drawn& run : engine_.drawn) {
            if (!texts.empty()) {
                Drawn& last = texts.back();
                const double end =
                    last.baseline.x() +
                    QFontMetricsF(last.font).horizontalAdvance(last.text) * last.scale;
                if (qFuzzyCompare(last.baseline.y(), run.baseline.y()) &&
                    std::abs(end - run.baseline.x()) < 0.5) {
                    last.text += run.text;
                    continue;
                }
            }
            texts.push_back(run);
        }
        return texts;
    }
    QPaintEngine* paintEngine() const override { return &engine_; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return int(210 * kDotsPerMm);
        case PdmHeight:
            return int(297 * kDotsPerMm);
        case PdmWidthMM:
            return 210;
        case PdmHeightMM:
            return 297;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return int(kDotsPerMm * 25.4);
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return 0x7fffffff;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        }
        return 0;
    }

private:
    class Engine final : public QPaintEngine {
    public:
        Engine() : QPaintEngine(QPaintEngine::AllFeatures) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState& changed) override {
            if (changed.state() & DirtyTransform)
                transform = changed.transform();
            if (changed.state() & DirtyPen)
                pen = changed.pen().color();
        }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& p, const QTextItem& item) override {
            drawn.push_back({item.text(), item.font(), transform.map(p), transform.m22(), pen});
        }
        Type type() const override { return QPaintEngine::User; }

        QTransform transform;
        QColor pen;
        std::vector<Drawn> drawn;
    };
    mutable Engine engine_;
};

double advanceMm(const Placed& p) {
    return QFontMetricsF(ReportPainter::font(p.face)).horizontalAdvance(p.text) / 100.0;
}

ReadingsTable::Snapshot rowsOf(int count, ReadingsTable& table) {
    for (int i = 0; i < count; ++i)
        table.append(reading(i + 1, "12:00:00", "DC", QString::number(i * 0.25), "k*",
                             i % 2 ? "Fail" : "pass"));
    return table.snapshot();
}

QList<Placed> expectedLines(int first, int count) {
    QList<Placed> lines;
    for (int line = 0; line < count; ++line) {
        const int i = first + line;
        lines +=
            detailLine(line, QString::number(i + 1), "12:00:00", "DC", QString::number(i * 0.25),
                       QStringLiteral("k\u03A9"), i % 2 ? "Fail" : "pass");
    }
    return lines;
}

constexpr double kInkDotsPerMm = 8.0;

QImage render(const ReportPainter& report, std::int64_t page) {
    QImage image(int(210 * kInkDotsPerMm), int(297 * kInkDotsPerMm), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.scale(kInkDotsPerMm, kInkDotsPerMm);
    report.paintPage(painter, page);
    return image;
}

bool isInk(const QImage& image, int x, int y) {
    return qGray(image.pixel(x, y)) < 128;
}

// The pixels a text may darken: its advance across, one line of 10 point text
// down, with 0.4 mm to spare for antialiasing and glyph overhang.
QRect inkBox(const Placed& p) {
    const double slack = 0.4;
    const double width = advanceMm(p);
    const double left = p.centred ? 105.0 - width / 2 : p.left;
    const double lineHeight = 3.528 * 1.15;
    return QRectF(QPointF((left - slack) * kInkDotsPerMm, (p.top - slack) * kInkDotsPerMm),
                  QPointF((left + width + slack) * kInkDotsPerMm,
                          (p.top + lineHeight + slack) * kInkDotsPerMm))
        .toAlignedRect();
}

// Rows of the table, the page painted, its first detail line and how many
// it holds: one row, and the two pages of 38 rows.
void addPages() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("firstLine");
    QTest::addColumn<int>("lines");
    QTest::newRow("one row") << 1 << 0 << 0 << 1;
    QTest::newRow("38 rows, page 1") << 38 << 0 << 0 << 37;
    QTest::newRow("38 rows, page 2") << 38 << 1 << 37 << 1;
}

} // namespace

class ReportPainterTest : public QObject {
    Q_OBJECT
private slots:
    void textsStandAtTabledPlacesInTenPointBlack_data();
    void textsStandAtTabledPlacesInTenPointBlack();
    void inkFallsOnlyInsideTheTextsBoxes_data();
    void inkFallsOnlyInsideTheTextsBoxes();
    void overlongValueStopsAtTheNextColumn();
    void restoresThePaintersState();
};

void ReportPainterTest::textsStandAtTabledPlacesInTenPointBlack_data() {
    addPages();
    QTest::newRow("empty table") << 0 << 0 << 0 << 0;
}

void ReportPainterTest::textsStandAtTabledPlacesInTenPointBlack() {
    QFETCH(int, rows);
    QFETCH(int, page);
    QFETCH(int, firstLine);
    QFETCH(int, lines);
    ReadingsTable table;
    const ReportPainter report(rowsOf(rows, table));
    TextRecorder device;
    {
        QPainter painter(&device);
        painter.scale(TextRecorder::kDotsPerMm, TextRecorder::kDotsPerMm);
        report.paintPage(painter, page);
    }
    const std::vector<TextRecorder::Drawn> drawn = device.drawn();
    const QList<Placed> expected = report_expect::page(expectedLines(firstLine, lines));
    QCOMPARE(qsizetype(drawn.size()), expected.size());

    const double tenPointMm = 10.0 * 25.4 / 72.0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const Placed& want = expected[i];
        const TextRecorder::Drawn& got = drawn[std::size_t(i)];
        const double sizeMm = got.font.pixelSize() * got.scale / TextRecorder::kDotsPerMm;
        const double ascentMm =
            QFontMetricsF(got.font).ascent() * got.scale / TextRecorder::kDotsPerMm;
        const double advance = advanceMm(want);
        const double left = got.baseline.x() / TextRecorder::kDotsPerMm;
        const double top = got.baseline.y() / TextRecorder::kDotsPerMm - ascentMm;
        const double wantLeft = want.centred ? 105.0 - advance / 2 : want.left;
        QVERIFY2(got.text == want.text && std::abs(left - wantLeft) < 0.01 &&
                     std::abs(top - want.top) < 0.01,
                 qPrintable(QStringLiteral("text %1: expected %2 (left %3), got \"%4\" at (%5, %6)")
                                .arg(i)
                                .arg(describe(want))
                                .arg(wantLeft, 0, 'f', 2)
                                .arg(got.text)
                                .arg(left, 0, 'f', 2)
                                .arg(top, 0, 'f', 2)));
        QVERIFY2(
            std::abs(sizeMm - tenPointMm) < 0.01 && !got.font.bold() && !got.font.italic(),
            qPrintable(QStringLiteral("\"%1\": expected a plain 10 point font (%2 mm), got %3 mm%4")
                           .arg(got.text)
                           .arg(tenPointMm, 0, 'f', 3)
                           .arg(sizeMm, 0, 'f', 3)
                           .arg(got.font.bold() ? QStringLiteral(" bold") : QString())));
        QVERIFY2(
            got.pen.rgba() == qRgba(0, 0, 0, 255),
            qPrintable(
                QStringLiteral("\"%1\": expected black, got %2").arg(got.text, got.pen.name())));
    }
}

void ReportPainterTest::inkFallsOnlyInsideTheTextsBoxes_data() {
    addPages();
}

void ReportPainterTest::inkFallsOnlyInsideTheTextsBoxes() {
    QFETCH(int, rows);
    QFETCH(int, page);
    QFETCH(int, firstLine);
    QFETCH(int, lines);
    ReadingsTable table;
    const QImage image = render(ReportPainter(rowsOf(rows, table)), page);
    const QList<Placed> expected = report_expect::page(expectedLines(firstLine, lines));

    std::vector<QRect> boxes;
    for (const Placed& p : expected) {
        const QRect box = inkBox(p) & image.rect();
        int ink = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x)
                ink += isInk(image, x, y);
        }
        QVERIFY2(ink > 0,
                 qPrintable(QStringLiteral("nothing printed where %1 belongs").arg(describe(p))));
        for (const QRect& other : boxes)
            QVERIFY2(!box.intersects(other),
                     qPrintable(describe(p) + QStringLiteral(" overlaps another text")));
        boxes.push_back(box);
    }
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isInk(image, x, y))
                continue;
            bool inside = false;
            for (const QRect& box : boxes)
                inside = inside || box.contains(x, y);
            QVERIFY2(inside,
                     qPrintable(QStringLiteral("ink at (%1, %2) mm, outside every text's place")
                                    .arg(x / kInkDotsPerMm, 0, 'f', 1)
                                    .arg(y / kInkDotsPerMm, 0, 'f', 1)));
        }
    }
}

void ReportPainterTest::overlongValueStopsAtTheNextColumn() {
    // Twenty wide characters are wider than the value column: unclipped, they
    // would run over the unit printed beside them.
    ReadingsTable shortTable;
    shortTable.append(reading(1, "12:00:00", "DC", "1", "V", "pass"));
    ReadingsTable longTable;
    longTable.append(reading(1, "12:00:00", "DC", "WWWWWWWWWWWWWWWWWWWW", "V", "pass"));
    const QImage shortImage = render(ReportPainter(shortTable.snapshot()), 0);
    const QImage longImage = render(ReportPainter(longTable.snapshot()), 0);

    const Placed unit = detailLine(0, "", "", "", "", "V", "").front();
    const int top = int((unit.top - 1.0) * kInkDotsPerMm);
    const int bottom = int((unit.top + 5.0) * kInkDotsPerMm);
    // From within the gap left before the unit to the paper's right margin.
    const int left = int(std::ceil((unit.left - 0.8) * kInkDotsPerMm));
    const int right = int(200.0 * kInkDotsPerMm);
    int longInk = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            QVERIFY2(
                shortImage.pixel(x, y) == longImage.pixel(x, y),
                qPrintable(QStringLiteral("the long value changes the unit's column at (%1, %2) mm")
                               .arg(x / kInkDotsPerMm, 0, 'f', 1)
                               .arg(y / kInkDotsPerMm, 0, 'f', 1)));
        }
        for (int x = int(110.0 * kInkDotsPerMm); x < left; ++x)
            longInk += isInk(longImage, x, y);
    }
    QVERIFY2(longInk > 0, "the long value was not printed at all");
}

void ReportPainterTest::restoresThePaintersState() {
    ReadingsTable table;
    const ReportPainter report(rowsOf(3, table));
    QImage image(100, 100, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.scale(2, 2);
    const QPen pen(Qt::red);
    painter.setPen(pen);
    const QTransform before = painter.transform();
    report.paintPage(painter, 0);
    QCOMPARE(painter.transform(), before);
    QCOMPARE(painter.pen(), pen);
    QVERIFY2(!painter.hasClipping(), "the painter was left clipped");
}

QTEST_MAIN(ReportPainterTest)
#include "ReportPainterTest.moc"
