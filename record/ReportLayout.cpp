#include "record/ReportLayout.h"

#include "protocol/UnitSymbols.h"

#include <algorithm>
#include <iterator>

namespace qm45::ReportLayout {

namespace {

struct Column {
    Field field;
    const char16_t* title;
    double titleLeft; // from the band's left edge
    Face titleFace;
    double valueLeft;
    Face valueFace;
};

constexpr Column kColumns[] = {
    {Field::no, u"No", 8.5, Face::Symbol, 8.5, Face::Arial},
    {Field::time, u"Time", 33.9, Face::Symbol, 33.9, Face::Arial},
    {Field::dcac, u"DC/AC", 64.3, Face::Arial, 65.6, Face::Arial},
    {Field::value, u"Value", 99.5, Face::Symbol, 99.5, Face::Arial},
    {Field::unit, u"Unit", 132.3, Face::Symbol, 131.2, Face::Symbol},
    {Field::judge, u"AUTO", 163.0, Face::Symbol, 163.0, Face::Symbol},
};
constexpr int kColumnCount = int(std::size(kColumns));

// Space kept between a cut text and the next column's text, so that the two
// never read as one.
constexpr double kColumnGap = 1.0;

// A column's text may use the room up to shortly before the next column's text.
QRectF columnBox(int column, bool title, double bandTop, double offset, double bandHeight) {
    const auto left = [title](int c) {
        return title ? kColumns[c].titleLeft : kColumns[c].valueLeft;
    };
    const double right = column + 1 < kColumnCount ? left(column + 1) - kColumnGap : kBandWidth;
    return {kBandLeft + left(column), bandTop + offset, right - left(column), bandHeight - offset};
}

QString fieldText(const ReadingsTable::Snapshot& rows, std::int64_t row, Field field) {
    if (rows.isNull(row, field))
        return {};
    if (field == Field::no)
        return QString::number(rows.integer(row, field));
    const QString& text = rows.text(row, field);
    return field == Field::unit ? unitDisplayText(QStringView(text)) : text;
}

} // namespace

std::int64_t pageCount(std::int64_t rows) {
    if (rows <= 0)
        return 1;
    return (rows + kLinesPerPage - 1) / kLinesPerPage;
}

PageRows pageRows(std::int64_t page, std::int64_t rows) {
    if (page < 0 || page >= pageCount(rows))
        return {};
    const std::int64_t first = page * kLinesPerPage;
    return {first, int(std::clamp<std::int64_t>(rows - first, 0, kLinesPerPage))};
}

std::vector<Text> pageTexts(const ReadingsTable::Snapshot& rows, std::int64_t page) {
    std::vector<Text> texts;
    const std::int64_t total = rows.rowCount();
    if (page < 0 || page >= pageCount(total))
        return texts;
    const PageRows onPage = pageRows(page, total);
    texts.reserve(std::size_t(2 + kColumnCount * (1 + onPage.count)));

    texts.push_back({kPageTitle, Face::Symbol,
                     QRectF(kBandLeft, kPageHeaderTop + kPageTitleOffset, kBandWidth,
                            kTitleBandHeight - kPageTitleOffset),
                     true});

    for (int c = 0; c < kColumnCount; ++c) {
        texts.push_back({QString::fromUtf16(kColumns[c].title), kColumns[c].titleFace,
                         columnBox(c, true, kColumnHeaderTop, kColumnTitleOffset, kTitleBandHeight),
                         false});
    }

    for (int line = 0; line < onPage.count; ++line) {
        const std::int64_t row = onPage.first + line;
        const double top = kFirstDetailTop + line * kDetailBandHeight;
        for (int c = 0; c < kColumnCount; ++c) {
            QString text = fieldText(rows, row, kColumns[c].field);
            if (text.isEmpty())
                continue;
            texts.push_back({std::move(text), kColumns[c].valueFace,
                             columnBox(c, false, top, kDetailOffset, kDetailBandHeight), false});
        }
    }

    texts.push_back({kPageFoot, Face::Symbol,
                     QRectF(kBandLeft + kFooterLeft, kFooterTop + kFooterOffset,
                            kBandWidth - kFooterLeft, kTitleBandHeight - kFooterOffset),
                     false});
    return texts;
}

} // namespace qm45::ReportLayout
