#include "view/LcdPanel.h"

#include <QtTest>

#include <initializer_list>

using namespace qm45;

Q_DECLARE_METATYPE(qm45::LcdState)

namespace {

const QRect kPanel(QPoint(0, 0), LcdPanel::panelSize);
// Inside the one-pixel bevel, where only the replica's own ink may appear.
const QRect kGlass = kPanel.adjusted(1, 1, -1, -1);

struct Named {
    Indicator id;
    const char* name;
};
const Named kAnnunciators[] = {
    {LcdAuto, "LcdAuto"}, {LCDBF, "LCDBF"},       {LcdAC, "LcdAC"},     {LCDJa, "LCDJa"},
    {LcdDc1, "LcdDc1"},   {LCDTRMST, "LCDTRMST"}, {LCDTRMS, "LCDTRMS"}, {LCDCS, "LCDCS"},
    {LCDFS, "LCDFS"},     {LCDDI, "LCDDI"},       {LCDFm, "LCDFm"},     {LCDohm, "LCDohm"},
    {LCDk, "LCDk"},       {LCDM1, "LCDM1"},       {LCDHz, "LCDHz"},     {LCDu, "LCDu"},
    {Lcdm, "Lcdm"},       {LCDn, "LCDn"},         {LcdV, "LcdV"},       {LCDA, "LCDA"},
    {LCDF, "LCDF"},       {lcdW, "lcdW"},
};

LcdState lcd(const char (&digits)[6], std::initializer_list<Indicator> shown = {}) {
    LcdState s;
    for (std::size_t i = 0; i < s.digits.size(); ++i)
        s.digits[i] = digits[i] == ' ' ? 0 : digits[i];
    for (Indicator i : shown)
        s.show(i);
    return s;
}

QImage render(const LcdState& s) {
    LcdPanel panel;
    panel.apply(s);
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool isDark(const QImage& image, QPoint at) {
    return qGray(image.pixel(at)) < 100;
}
bool isWhite(const QImage& image, QPoint at) {
    return qGray(image.pixel(at)) > 245;
}

int darkPixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += isDark(image, {x, y}) ? 1 : 0;
    }
    return count;
}

QString describe(const QImage& image, QPoint at) {
    return QStringLiteral("pixel (%1,%2) is #%3")
        .arg(at.x())
        .arg(at.y())
        .arg(image.pixel(at) & 0xFFFFFF, 6, 16, QLatin1Char('0'));
}

// A point well inside each segment, from a digit box's top left: the digits
// stand from 18 to 92 pixels below the box top, 3 to 35 across.
struct SegmentProbe {
    char name;
    QPoint offset;
};
const SegmentProbe kSegmentProbes[] = {
    {'a', {19, 21}}, {'b', {31, 38}}, {'c', {31, 72}}, {'d', {19, 88}},
    {'e', {6, 72}},  {'f', {6, 38}},  {'g', {19, 55}},
};

QString litSegments(const QImage& image, const QRect& box) {
    QString lit;
    for (const SegmentProbe& probe : kSegmentProbes) {
        if (isDark(image, box.topLeft() + probe.offset))
            lit += QLatin1Char(probe.name);
    }
    return lit;
}

} // namespace

class TestLcdPanel : public QObject {
    Q_OBJECT
private slots:
    void startsAsNamedFixedPanelInStartupState();
    void elementsSitAtTheMeterLayout_data();
    void elementsSitAtTheMeterLayout();
    void everyElementLiesInsideThePanel();
    void changedRegionCoversExactlyTheChangedElements_data();
    void changedRegionCoversExactlyTheChangedElements();
    void applyKeepsTheNewState();
    void digitLightsItsSegments_data();
    void digitLightsItsSegments();
    void eachPlaceDrawsOnlyInItsOwnBox_data();
    void eachPlaceDrawsOnlyInItsOwnBox();
    void decimalPointIsABlackDotOnlyWhenShown_data();
    void decimalPointIsABlackDotOnlyWhenShown();
    void annunciatorInksOnlyItsOwnBox_data();
    void annunciatorInksOnlyItsOwnBox();
    void startupShowsMinusAnd39999WithoutPointOrAnnunciator();
    void repaintingTheChangedRegionGivesTheFullPicture_data();
    void repaintingTheChangedRegionGivesTheFullPicture();
};

void TestLcdPanel::startsAsNamedFixedPanelInStartupState() {
    LcdPanel panel;
    QCOMPARE(panel.objectName(), QStringLiteral("Panel1"));
    QCOMPARE(panel.size(), QSize(334, 136));
    QCOMPARE(panel.minimumSize(), panel.maximumSize());
    QVERIFY(panel.state() == LcdState::startup());
}

void TestLcdPanel::elementsSitAtTheMeterLayout_data() {
    QTest::addColumn<QRect>("actual");
    QTest::addColumn<QPoint>("expectedTopLeft");

    QTest::newRow("LcdD0") << LcdPanel::digitRect(0) << QPoint(40, 20);
    QTest::newRow("LcdDa") << LcdPanel::digitRect(1) << QPoint(88, 20);
    QTest::newRow("LcdDb") << LcdPanel::digitRect(2) << QPoint(136, 20);
    QTest::newRow("LcdDc") << LcdPanel::digitRect(3) << QPoint(184, 20);
    QTest::newRow("LcdDd") << LcdPanel::digitRect(4) << QPoint(232, 20);
    QTest::newRow("LcdFH") << LcdPanel::indicatorRect(LcdFH) << QPoint(5, 20);
    QTest::newRow("LcdP0") << LcdPanel::indicatorRect(LcdP0) << QPoint(78, 105);
    QTest::newRow("LcdP1") << LcdPanel::indicatorRect(LcdP1) << QPoint(127, 105);
    QTest::newRow("LcdP2") << LcdPanel::indicatorRect(LcdP2) << QPoint(175, 105);
    QTest::newRow("LcdP3") << LcdPanel::indicatorRect(LcdP3) << QPoint(224, 105);
    QTest::newRow("LcdAuto") << LcdPanel::indicatorRect(LcdAuto) << QPoint(8, 11);
    QTest::newRow("LCDBF percent at the top") << LcdPanel::indicatorRect(LCDBF) << QPoint(136, 8);
    QTest::newRow("LcdAC") << LcdPanel::indicatorRect(LcdAC) << QPoint(182, 14);
    QTest::newRow("LCDJa") << LcdPanel::indicatorRect(LCDJa) << QPoint(211, 13);
    QTest::newRow("LcdDc1") << LcdPanel::indicatorRect(LcdDc1) << QPoint(223, 14);
    QTest::newRow("LCDTRMST") << LcdPanel::indicatorRect(LCDTRMST) << QPoint(253, 13);
    QTest::newRow("LCDTRMS") << LcdPanel::indicatorRect(LCDTRMS) << QPoint(264, 19);
    QTest::newRow("LCDCS") << LcdPanel::indicatorRect(LCDCS) << QPoint(304, 33);
    QTest::newRow("LCDFS") << LcdPanel::indicatorRect(LCDFS) << QPoint(304, 33);
    QTest::newRow("LCDDI") << LcdPanel::indicatorRect(LCDDI) << QPoint(296, 33);
    QTest::newRow("LCDFm") << LcdPanel::indicatorRect(LCDFm) << QPoint(296, 31);
    QTest::newRow("LCDohm") << LcdPanel::indicatorRect(LCDohm) << QPoint(304, 54);
    QTest::newRow("LCDk") << LcdPanel::indicatorRect(LCDk) << QPoint(286, 55);
    QTest::newRow("LCDM1") << LcdPanel::indicatorRect(LCDM1) << QPoint(278, 57);
    QTest::newRow("LCDHz") << LcdPanel::indicatorRect(LCDHz) << QPoint(296, 58);
    QTest::newRow("LCDu") << LcdPanel::indicatorRect(LCDu) << QPoint(288, 75);
    QTest::newRow("Lcdm") << LcdPanel::indicatorRect(Lcdm) << QPoint(280, 81);
    QTest::newRow("LCDn") << LcdPanel::indicatorRect(LCDn) << QPoint(288, 82);
    QTest::newRow("LcdV") << LcdPanel::indicatorRect(LcdV) << QPoint(304, 83);
    QTest::newRow("LCDA") << LcdPanel::indicatorRect(LCDA) << QPoint(304, 82);
    QTest::newRow("LCDF") << LcdPanel::indicatorRect(LCDF) << QPoint(304, 82);
    QTest::newRow("lcdW") << LcdPanel::indicatorRect(lcdW) << QPoint(296, 99);
}

void TestLcdPanel::elementsSitAtTheMeterLayout() {
    QFETCH(QRect, actual);
    QFETCH(QPoint, expectedTopLeft);
    QCOMPARE(actual.topLeft(), expectedTopLeft);
}

void TestLcdPanel::everyElementLiesInsideThePanel() {
    QCOMPARE(LcdPanel::digitRect(0).size(), QSize(38, 112));
    QCOMPARE(LcdPanel::indicatorRect(LcdFH).size(), QSize(26, 112));
    QCOMPARE(LcdPanel::indicatorRect(LcdP0).size(), QSize(7, 8));
    QCOMPARE(LcdPanel::indicatorRect(LCDFm).size(), QSize(25, 36));

    for (std::uint32_t i = 0; i < IndicatorCount; ++i) {
        const QRect r = LcdPanel::indicatorRect(Indicator(i));
        QVERIFY2(
            !r.isEmpty() && kGlass.contains(r),
            qPrintable(QStringLiteral("indicator %1 has box (%2,%3 %4x%5), outside (1,1 332x134)")
                           .arg(i)
                           .arg(r.x())
                           .arg(r.y())
                           .arg(r.width())
                           .arg(r.height())));
    }
    for (int place = 0; place < 5; ++place)
        QVERIFY(kGlass.contains(LcdPanel::digitRect(place)));
    QVERIFY(LcdPanel::digitRect(5).isEmpty());
    QVERIFY(LcdPanel::digitRect(-1).isEmpty());
}

void TestLcdPanel::changedRegionCoversExactlyTheChangedElements_data() {
    QTest::addColumn<LcdState>("before");
    QTest::addColumn<LcdState>("after");
    QTest::addColumn<QRegion>("expected");

    const LcdState start = lcd("39999", {LcdFH});
    QTest::newRow("nothing changed") << start << start << QRegion();
    QTest::newRow("third digit") << start << lcd("39499", {LcdFH}) << QRegion(136, 20, 38, 112);
    QTest::newRow("digit emptied") << start << lcd("3999 ", {LcdFH}) << QRegion(232, 20, 38, 112);
    QTest::newRow("AUTO on") << start << lcd("39999", {LcdFH, LcdAuto})
                             << QRegion(LcdPanel::indicatorRect(LcdAuto));
    QTest::newRow("k off") << lcd("39999", {LCDk, LCDohm}) << lcd("39999", {LCDohm})
                           << QRegion(LcdPanel::indicatorRect(LCDk));
    QTest::newRow("minus off") << start << lcd("39999") << QRegion(5, 20, 26, 112);
    QTest::newRow("point moves") << lcd("39999", {LcdP0}) << lcd("39999", {LcdP2})
                                 << (QRegion(78, 105, 7, 8) + QRegion(175, 105, 7, 8));
    QTest::newRow("overload from 3.9999 V")
        << lcd("39999", {LcdP0, LcdV, LcdAuto}) << lcd("  0@ ", {LcdP2, LcdV, LcdAuto})
        << (QRegion(40, 20, 38, 112) + QRegion(88, 20, 38, 112) + QRegion(136, 20, 38, 112) +
            QRegion(184, 20, 38, 112) + QRegion(232, 20, 38, 112) + QRegion(78, 105, 7, 8) +
            QRegion(175, 105, 7, 8));
}

void TestLcdPanel::changedRegionCoversExactlyTheChangedElements() {
    QFETCH(LcdState, before);
    QFETCH(LcdState, after);
    QFETCH(QRegion, expected);
    const QRegion actual = LcdPanel::changedRegion(before, after);
    QVERIFY2(actual == expected,
             qPrintable(QStringLiteral("expected bounds (%1,%2 %3x%4), got (%5,%6 %7x%8)")
                            .arg(expected.boundingRect().x())
                            .arg(expected.boundingRect().y())
                            .arg(expected.boundingRect().width())
                            .arg(expected.boundingRect().height())
                            .arg(actual.boundingRect().x())
                            .arg(actual.boundingRect().y())
                            .arg(actual.boundingRect().width())
                            .arg(actual.boundingRect().height())));
}

void TestLcdPanel::applyKeepsTheNewState() {
    LcdPanel panel;
    const LcdState reading = lcd("12345", {LcdP1, LcdV, LcdDc1});
    panel.apply(reading);
    QVERIFY(panel.state() == reading);
    panel.apply(reading);
    QVERIFY(panel.state() == reading);
}

void TestLcdPanel::digitLightsItsSegments_data() {
    QTest::addColumn<char>("digit");
    QTest::addColumn<QString>("segments");

    QTest::newRow("0") << '0' << "abcdef";
    QTest::newRow("1") << '1' << "bc";
    QTest::newRow("2") << '2' << "abdeg";
    QTest::newRow("3") << '3' << "abcdg";
    QTest::newRow("4") << '4' << "bcfg";
    QTest::newRow("5") << '5' << "acdfg";
    QTest::newRow("6") << '6' << "acdefg";
    QTest::newRow("7") << '7' << "abc";
    QTest::newRow("8") << '8' << "abcdefg";
    QTest::newRow("9") << '9' << "abcdfg";
    QTest::newRow("minus") << '-' << "g";
    QTest::newRow("@ is the letter L") << '@' << "def";
    QTest::newRow("empty place") << char(0) << "";
}

void TestLcdPanel::digitLightsItsSegments() {
    QFETCH(char, digit);
    QFETCH(QString, segments);
    LcdState s;
    s.digits[1] = digit;
    const QImage image = render(s);
    const QString lit = litSegments(image, LcdPanel::digitRect(1));
    QVERIFY2(lit == segments,
             qPrintable(QStringLiteral("digit '%1': expected segments \"%2\", lit \"%3\"")
                            .arg(QLatin1Char(digit ? digit : ' '))
                            .arg(segments, lit)));
}

void TestLcdPanel::eachPlaceDrawsOnlyInItsOwnBox_data() {
    QTest::addColumn<int>("place");
    for (int place = 0; place < 5; ++place)
        QTest::addRow("place %d", place) << place;
}

void TestLcdPanel::eachPlaceDrawsOnlyInItsOwnBox() {
    QFETCH(int, place);
    LcdState s;
    s.digits[std::size_t(place)] = '8';
    const QImage image = render(s);
    const QRect box = LcdPanel::digitRect(place);
    QCOMPARE(litSegments(image, box), QStringLiteral("abcdefg"));
    QCOMPARE(darkPixels(image, kGlass) - darkPixels(image, box), 0);
}

void TestLcdPanel::decimalPointIsABlackDotOnlyWhenShown_data() {
    QTest::addColumn<int>("shownPoint");
    QTest::newRow("none") << -1;
    for (int point = 0; point < 4; ++point)
        QTest::addRow("LcdP%d", point) << point;
}

void TestLcdPanel::decimalPointIsABlackDotOnlyWhenShown() {
    QFETCH(int, shownPoint);
    const Indicator points[] = {LcdP0, LcdP1, LcdP2, LcdP3};
    LcdState s = lcd("88888");
    if (shownPoint >= 0)
        s.show(points[shownPoint]);
    const QImage image = render(s);
    for (int point = 0; point < 4; ++point) {
        const QRect dot = LcdPanel::indicatorRect(points[point]);
        const bool shown = point == shownPoint;
        const int dark = darkPixels(image, dot);
        const int expected = shown ? dot.width() * dot.height() : 0;
        QVERIFY2(
            dark == expected,
            qPrintable(QStringLiteral("LcdP%1 %2: expected %3 black pixels in its 7x8 box, got %4")
                           .arg(point)
                           .arg(shown ? "shown" : "hidden")
                           .arg(expected)
                           .arg(dark)));
    }
}

void TestLcdPanel::annunciatorInksOnlyItsOwnBox_data() {
    QTest::addColumn<int>("indicator");
    for (const Named& a : kAnnunciators)
        QTest::newRow(a.name) << int(a.id);
}

void TestLcdPanel::annunciatorInksOnlyItsOwnBox() {
    QFETCH(int, indicator);
    const Indicator id = Indicator(indicator);
    LcdState s;
    s.show(id);
    const QImage image = render(s);
    const QRect box = LcdPanel::indicatorRect(id);
    const int inside = darkPixels(image, box);
    const int outside = darkPixels(image, kGlass) - inside;
    QVERIFY2(inside >= 20 && outside == 0,
             qPrintable(QStringLiteral("indicator %1 alone: expected ink only in (%2,%3 %4x%5); "
                                       "%6 dark pixels inside, %7 outside")
                            .arg(indicator)
                            .arg(box.x())
                            .arg(box.y())
                            .arg(box.width())
                            .arg(box.height())
                            .arg(inside)
                            .arg(outside)));
}

void TestLcdPanel::startupShowsMinusAnd39999WithoutPointOrAnnunciator() {
    LcdPanel panel;
    const QImage image = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);

    const QPoint minusCentre(18, 75);
    QVERIFY2(isDark(image, minusCentre), qPrintable(describe(image, minusCentre)));
    const QPoint aboveMinus(18, 58);
    QVERIFY2(isWhite(image, aboveMinus), qPrintable(describe(image, aboveMinus)));

    const QString expected[] = {"abcdg", "abcdfg", "abcdfg", "abcdfg", "abcdfg"};
    for (int place = 0; place < 5; ++place)
        QCOMPARE(litSegments(image, LcdPanel::digitRect(place)), expected[place]);

    for (Indicator point : {LcdP0, LcdP1, LcdP2, LcdP3})
        QCOMPARE(darkPixels(image, LcdPanel::indicatorRect(point)), 0);
    for (const Named& a : kAnnunciators) {
        const int dark = darkPixels(image, LcdPanel::indicatorRect(a.id));
        QVERIFY2(dark == 0,
                 qPrintable(QStringLiteral("%1 has %2 dark pixels at start-up, expected none")
                                .arg(QLatin1String(a.name))
                                .arg(dark)));
    }
}

void TestLcdPanel::repaintingTheChangedRegionGivesTheFullPicture_data() {
    QTest::addColumn<LcdState>("before");
    QTest::addColumn<LcdState>("after");

    QTest::newRow("start-up to 3.9999 V DC AUTO")
        << LcdState::startup() << lcd("39999", {LcdP0, LcdV, LcdDc1, LcdAuto});
    QTest::newRow("volts to overload")
        << lcd("39999", {LcdP0, LcdV, LcdDc1}) << lcd("  0@ ", {LcdP2, LcdV, LcdDc1});
    QTest::newRow("k-ohm to kHz") << lcd("12345", {LcdP1, LCDk, LCDohm, LcdAuto})
                                  << lcd("12345", {LcdP1, LCDk, LCDHz, LcdAuto});
    QTest::newRow("mega-ohm to continuity")
        << lcd("01234", {LcdP0, LCDM1, LCDohm}) << lcd("00123", {LcdP2, LCDFm, LCDohm});
    QTest::newRow("AC+DC TRMS to DC")
        << lcd("-1234", {LcdP1, LcdAC, LCDJa, LcdDc1, LCDTRMST, LCDTRMS, LCDA, Lcdm})
        << lcd("-1234", {LcdP1, LcdDc1, LCDA, Lcdm});
    QTest::newRow("micro-farad to nano-farad")
        << lcd("47000", {LcdP1, LCDu, LCDF}) << lcd("47000", {LcdP2, LCDn, LCDF});
}

void TestLcdPanel::repaintingTheChangedRegionGivesTheFullPicture() {
    QFETCH(LcdState, before);
    QFETCH(LcdState, after);

    LcdPanel panel;
    panel.apply(before);
    QImage partial = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
    panel.apply(after);
    const QRegion changed = LcdPanel::changedRegion(before, after);
    QVERIFY(!changed.isEmpty());
    // render() places the region's bounding box at the offset given.
    panel.render(&partial, changed.boundingRect().topLeft(), changed, QWidget::RenderFlags());
    const QImage full = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);

    for (int y = 0; y < full.height(); ++y) {
        for (int x = 0; x < full.width(); ++x) {
            if (partial.pixel(x, y) != full.pixel(x, y)) {
                QFAIL(qPrintable(QStringLiteral("after repainting only the changed region, %1; "
                                                "a full repaint has #%2")
                                     .arg(describe(partial, {x, y}))
                                     .arg(full.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'))));
            }
        }
    }
}

QTEST_MAIN(TestLcdPanel)
#include "test_lcd_panel.moc"
