#include "view/LcdPanel.h"

#include "protocol/UnitSymbols.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStringList>

#include <array>
#include <cstdint>

namespace qm45 {

namespace {

const QColor kInk(Qt::black);
const QColor kGlass(Qt::white);

// Digit places sit 48 pixels apart; the minus sign has a narrower box of its own.
constexpr int kDigitLeft = 40;
constexpr int kDigitPitch = 48;
constexpr int kDigitTop = 20;
constexpr QSize kDigitBox{38, 112};
constexpr QRect kMinusBox{5, 20, 26, 112};

// Where the segments lie inside a digit box. The characters of the 100-pixel
// digit font stand from just under the top annunciator row down to the line
// of the decimal points.
constexpr int kGlyphLeft = 3;
constexpr int kGlyphTop = 18;
constexpr int kGlyphWidth = 32;
constexpr int kGlyphHeight = 74;
constexpr qreal kStroke = 7.0;
constexpr qreal kSegmentGap = 1.0;

constexpr int kPointTop = 105;
constexpr QSize kPointSize{7, 8};
constexpr std::array<int, 4> kPointLeft{78, 127, 175, 224};

enum Segment : std::uint8_t {
    SegA = 1 << 0, // top
    SegB = 1 << 1, // upper right
    SegC = 1 << 2, // lower right
    SegD = 1 << 3, // bottom
    SegE = 1 << 4, // lower left
    SegF = 1 << 5, // upper left
    SegG = 1 << 6, // middle
};

std::uint8_t segmentsOf(char c) {
    switch (c) {
    case '0':
        return SegA | SegB | SegC | SegD | SegE | SegF;
    case '1':
        return SegB | SegC;
    case '2':
        return SegA | SegB | SegD | SegE | SegG;
    case '3':
        return SegA | SegB | SegC | SegD | SegG;
    case '4':
        return SegB | SegC | SegF | SegG;
    case '5':
        return SegA | SegC | SegD | SegF | SegG;
    case '6':
        return SegA | SegC | SegD | SegE | SegF | SegG;
    case '7':
        return SegA | SegB | SegC;
    case '8':
        return SegA | SegB | SegC | SegD | SegE | SegF | SegG;
    case '9':
        return SegA | SegB | SegC | SegD | SegF | SegG;
    case '-':
        return SegG;
    case '@':
        return SegD | SegE | SegF; // the overload display's L
    default:
        return 0;
    }
}

// Segments are hexagons pointed at both ends, so neighbours meet on a mitre.
QPolygonF horizontalSegment(qreal y, qreal x1, qreal x2) {
    const qreal h = kStroke / 2;
    const qreal l = x1 + kSegmentGap;
    const qreal r = x2 - kSegmentGap;
    return QPolygonF(
        {{l, y}, {l + h, y - h}, {r - h, y - h}, {r, y}, {r - h, y + h}, {l + h, y + h}});
}

QPolygonF verticalSegment(qreal x, qreal y1, qreal y2) {
    const qreal h = kStroke / 2;
    const qreal t = y1 + kSegmentGap;
    const qreal b = y2 - kSegmentGap;
    return QPolygonF(
        {{x, t}, {x + h, t + h}, {x + h, b - h}, {x, b}, {x - h, b - h}, {x - h, t + h}});
}

void drawSegments(QPainter& p, const QRectF& glyph, std::uint8_t segments) {
    const qreal h = kStroke / 2;
    const qreal xl = glyph.left() + h;
    const qreal xr = glyph.right() - h;
    const qreal yt = glyph.top() + h;
    const qreal ym = glyph.center().y();
    const qreal yb = glyph.bottom() - h;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    auto add = [&](Segment s, const QPolygonF& shape) {
        if (segments & s)
            path.addPolygon(shape);
    };
    add(SegA, horizontalSegment(yt, xl, xr));
    add(SegB, verticalSegment(xr, yt, ym));
    add(SegC, verticalSegment(xr, ym, yb));
    add(SegD, horizontalSegment(yb, xl, xr));
    add(SegE, verticalSegment(xl, ym, yb));
    add(SegF, verticalSegment(xl, yt, ym));
    add(SegG, horizontalSegment(ym, xl, xr));
    p.fillPath(path, kInk);
}

QRectF glyphArea(const QRect& digitBox) {
    return QRectF(digitBox.left() + kGlyphLeft, digitBox.top() + kGlyphTop, kGlyphWidth,
                  kGlyphHeight);
}

// The minus sign's box is narrower than a digit's; its bar spans the box at
// the height of the digits' middle segment.
void drawMinus(QPainter& p) {
    const qreal y = kMinusBox.top() + kGlyphTop + kGlyphHeight / 2.0;
    QPainterPath path;
    path.addPolygon(horizontalSegment(y, kMinusBox.left() + 1, kMinusBox.right()));
    p.fillPath(path, kInk);
}

enum class Face : std::uint8_t {
    Annunciator, // the annunciator font: codes go through the unit symbols
    Arial,       // plain text in Arial
    Diode,
    Continuity,
};

// One annunciator. left/top and the character height are the meter's layout;
// width and height are the box the caption has to fit into, chosen so that
// captions the decoder shows together do not run into each other.
struct Caption {
    Indicator id;
    QRect box;
    const char16_t* text;
    int pixelSize;
    bool bold;
    Face face;
};

constexpr Caption kCaptions[] = {
    {LcdAuto, {8, 11, 54, 22}, u"AUTO", 19, true, Face::Annunciator},
    {LCDBF, {136, 8, 22, 28}, u"%", 24, false, Face::Annunciator},
    {LcdAC, {182, 14, 29, 23}, u"AC", 20, true, Face::Annunciator},
    {LCDJa, {211, 13, 12, 24}, u"+", 21, false, Face::Arial},
    {LcdDc1, {223, 14, 29, 23}, u"DC", 20, true, Face::Annunciator},
    {LCDTRMST, {253, 13, 11, 22}, u"T", 19, true, Face::Annunciator},
    {LCDTRMS, {264, 19, 27, 14}, u"RMS", 12, true, Face::Annunciator},
    {LCDCS, {304, 33, 28, 36}, u"#", 32, false, Face::Annunciator},
    {LCDFS, {304, 33, 28, 36}, u"?", 32, false, Face::Annunciator},
    {LCDDI, {296, 33, 36, 24}, u")", 29, false, Face::Diode},
    {LCDFm, {296, 31, 25, 36}, u"&", 32, false, Face::Continuity},
    {LCDohm, {304, 54, 28, 33}, u"*", 29, false, Face::Annunciator},
    {LCDk, {286, 55, 11, 31}, u"k", 27, false, Face::Annunciator},
    {LCDM1, {278, 57, 18, 28}, u"M", 24, false, Face::Annunciator},
    {LCDHz, {296, 58, 30, 28}, u"Hz", 24, false, Face::Annunciator},
    {LCDu, {288, 75, 16, 36}, u"+", 32, false, Face::Annunciator},
    {Lcdm, {280, 81, 20, 28}, u"m", 24, false, Face::Annunciator},
    {LCDn, {288, 82, 14, 28}, u"n", 24, false, Face::Annunciator},
    {LcdV, {304, 83, 17, 28}, u"V", 24, false, Face::Annunciator},
    {LCDA, {304, 82, 17, 28}, u"A", 24, false, Face::Annunciator},
    {LCDF, {304, 82, 15, 28}, u"F", 24, false, Face::Annunciator},
    {lcdW, {296, 99, 19, 23}, u"W", 19, true, Face::Annunciator},
};

const Caption* captionOf(Indicator id) {
    for (const Caption& c : kCaptions) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

QFont captionFont(const Caption& c) {
    QFont font;
    // The meter's annunciator font is not available anywhere; Liberation Sans
    // has Arial's metrics, which the layout was made with.
    QStringList families{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
    if (c.face == Face::Arial)
        families.prepend(QStringLiteral("Arial"));
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(c.pixelSize);
    font.setBold(c.bold);
    return font;
}

// Text sits on the baseline a label of that font would have at the box's top;
// a caption wider than its box is narrowed rather than cut.
void drawText(QPainter& p, const Caption& c) {
    const QFont font = captionFont(c);
    const QFontMetricsF metrics(font);
    const QString text = c.face == Face::Annunciator ? unitDisplayText(QStringView(c.text))
                                                     : QString::fromUtf16(c.text);
    const qreal advance = metrics.horizontalAdvance(text);
    const qreal squeeze = advance > c.box.width() ? c.box.width() / advance : 1.0;
    p.save();
    p.setClipRect(c.box);
    p.setFont(font);
    p.setPen(kInk);
    p.translate(c.box.left(), c.box.top() + metrics.ascent());
    p.scale(squeeze, 1.0);
    p.drawText(QPointF(0, 0), text);
    p.restore();
}

// A diode: a triangle pointing along the current against a bar, on a wire.
void drawDiode(QPainter& p, const QRect& box) {
    const qreal y = box.top() + 13.5;
    const qreal left = box.left() + 1;
    const qreal right = box.right() - 2;
    const qreal tip = box.left() + 23;
    const qreal base = tip - 14;
    const qreal half = 8;
    p.save();
    p.setClipRect(box);
    p.setPen(QPen(kInk, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(kInk);
    p.drawLine(QPointF(left, y), QPointF(right, y));
    p.drawPolygon(QPolygonF({{base, y - half}, {tip, y}, {base, y + half}}));
    p.drawLine(QPointF(tip + 1, y - half), QPointF(tip + 1, y + half));
    p.restore();
}

// Continuity: the beeper as a dot, its sound as three arcs.
void drawContinuity(QPainter& p, const QRect& box) {
    const QPointF centre(box.left() + 4.0, box.top() + 15.0);
    p.save();
    p.setClipRect(box);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(centre, 3.5, 3.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kInk, 2.2, Qt::SolidLine, Qt::FlatCap));
    for (qreal r : {7.5, 12.5, 17.5}) {
        const QRectF circle(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        p.drawArc(circle, -55 * 16, 110 * 16);
    }
    p.restore();
}

void drawCaption(QPainter& p, const Caption& c) {
    switch (c.face) {
    case Face::Annunciator:
    case Face::Arial:
        drawText(p, c);
        break;
    case Face::Diode:
        drawDiode(p, c.box);
        break;
    case Face::Continuity:
        drawContinuity(p, c.box);
        break;
    }
}

int pointIndex(Indicator i) {
    switch (i) {
    case LcdP0:
        return 0;
    case LcdP1:
        return 1;
    case LcdP2:
        return 2;
    case LcdP3:
        return 3;
    default:
        return -1;
    }
}

} // namespace

LcdPanel::LcdPanel(QWidget* parent) : QFrame(parent), state_(LcdState::startup()) {
    setObjectName(QStringLiteral("Panel1"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setFixedSize(panelSize);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LcdPanel::apply(const LcdState& s) {
    const QRegion dirty = changedRegion(state_, s);
    state_ = s;
    if (!dirty.isEmpty())
        update(dirty);
}

QRect LcdPanel::digitRect(int place) {
    if (place < 0 || place >= int(LcdState{}.digits.size()))
        return {};
    return QRect(QPoint(kDigitLeft + place * kDigitPitch, kDigitTop), kDigitBox);
}

QRect LcdPanel::indicatorRect(Indicator indicator) {
    if (indicator == LcdFH)
        return kMinusBox;
    if (const int point = pointIndex(indicator); point >= 0)
        return QRect(QPoint(kPointLeft[std::size_t(point)], kPointTop), kPointSize);
    if (const Caption* c = captionOf(indicator))
        return c->box;
    return {};
}

QRegion LcdPanel::changedRegion(const LcdState& before, const LcdState& after) {
    QRegion region;
    for (std::size_t i = 0; i < before.digits.size(); ++i) {
        if (before.digits[i] != after.digits[i])
            region += digitRect(int(i));
    }
    const std::uint32_t flipped = before.shown ^ after.shown;
    for (std::uint32_t i = 0; i < IndicatorCount; ++i) {
        if (flipped & bit(Indicator(i)))
            region += indicatorRect(Indicator(i));
    }
    return region;
}

void LcdPanel::paintEvent(QPaintEvent* event) {
    const QRegion& dirty = event->region();
    QPainter p(this);
    p.fillRect(rect(), kGlass);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    if (state_.isShown(LcdFH) && dirty.intersects(kMinusBox))
        drawMinus(p);
    for (std::size_t i = 0; i < state_.digits.size(); ++i) {
        const QRect box = digitRect(int(i));
        if (dirty.intersects(box))
            drawSegments(p, glyphArea(box), segmentsOf(state_.digits[i]));
    }

    // The points are solid 7 x 8 blocks, crisp at the pixel grid.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (Indicator point : {LcdP0, LcdP1, LcdP2, LcdP3}) {
        if (state_.isShown(point))
            p.fillRect(indicatorRect(point), kInk);
    }
    p.setRenderHint(QPainter::Antialiasing, true);

    for (const Caption& c : kCaptions) {
        if (state_.isShown(c.id) && dirty.intersects(c.box))
            drawCaption(p, c);
    }

    p.setRenderHint(QPainter::Antialiasing, false);
    drawFrame(&p);
}

} // namespace qm45
