#pragma once

#include "record/ReadingsTable.h"

#include <QRectF>
#include <QString>

#include <cstdint>
#include <vector>

namespace qm45 {

// The printed list of the readings table: a fixed A4 portrait page measured in
// millimetres from the paper's top-left corner. Every page carries the title
// band, the column titles, up to kLinesPerPage detail lines and the footer, so
// page k can be laid out on its own without looking at the pages before it.
namespace ReportLayout {

inline constexpr double kPaperWidth = 210.0;
inline constexpr double kPaperHeight = 297.0;
inline constexpr double kMargin = 10.0;
inline constexpr double kBandWidth = kPaperWidth - 2 * kMargin;
inline constexpr double kBandLeft = kMargin;
inline constexpr double kTitleBandHeight = 10.6; // page header, column header and footer alike
inline constexpr double kDetailBandHeight = 6.6;
inline constexpr double kPointSize = 10.0;

inline constexpr double kPageHeaderTop = kMargin;
inline constexpr double kColumnHeaderTop = kPageHeaderTop + kTitleBandHeight;
inline constexpr double kFirstDetailTop = kColumnHeaderTop + kTitleBandHeight;
// The footer sits on the bottom margin, not under the last detail line, so it
// stands at the same place on a page with one line as on a full one.
inline constexpr double kFooterTop = kPaperHeight - kMargin - kTitleBandHeight;
inline constexpr int kLinesPerPage = int((kFooterTop - kFirstDetailTop) / kDetailBandHeight);
static_assert(kLinesPerPage == 37, "the bands no longer leave room for 37 detail lines");

// Distance of the texts from the top of their band.
inline constexpr double kPageTitleOffset = 2.1;
inline constexpr double kColumnTitleOffset = 4.2;
inline constexpr double kDetailOffset = 2.1;
inline constexpr double kFooterOffset = 4.2;
inline constexpr double kFooterLeft = 8.5;

inline const QString kPageTitle = QStringLiteral("The Data Print Title");
inline const QString kPageFoot = QStringLiteral("The Data Print Foot");

// Symbol is the meter's annunciator font, in which unit codes show as their
// symbols; it is the report's default face.
enum class Face { Symbol, Arial };

struct Text {
    QString text;
    Face face = Face::Symbol;
    // Millimetres. The text's top-left corner stands at the box's top-left
    // corner, or it is centred across the box's width when centred is set.
    // Text wider than the box is cut at its right edge, so that an overlong
    // value never runs into the next column.
    QRectF box;
    bool centred = false;
};

struct PageRows {
    std::int64_t first = 0;
    int count = 0;
};

// An empty table still gives one page, with its bands and no detail line.
[[nodiscard]] std::int64_t pageCount(std::int64_t rows);
// Pages count from 0. A page outside the report has no rows.
[[nodiscard]] PageRows pageRows(std::int64_t page, std::int64_t rows);
// Every text printed on the page, bands from top to bottom. Empty and NULL
// fields print nothing and give no entry.
[[nodiscard]] std::vector<Text> pageTexts(const ReadingsTable::Snapshot& rows, std::int64_t page);

} // namespace ReportLayout

} // namespace qm45
