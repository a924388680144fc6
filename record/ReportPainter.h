#pragma once

#include "record/ReadingsTable.h"
#include "record/ReportLayout.h"

#include <QFont>
#include <QFontMetricsF>
#include <QSizeF>

#include <cstdint>

class QPainter;

namespace qm45 {

// Paints the pages of the readings report. The screen preview, PDF output and
// the printer all go through paintPage, so what is printed is what was seen.
// It works on a snapshot: rows appended after it was taken are not part of the
// report, and a page is laid out only when it is painted.
class ReportPainter {
public:
    explicit ReportPainter(ReadingsTable::Snapshot rows);

    [[nodiscard]] std::int64_t pageCount() const;
    [[nodiscard]] static QSizeF pageSizeMm() {
        return {ReportLayout::kPaperWidth, ReportLayout::kPaperHeight};
    }
    [[nodiscard]] const ReadingsTable::Snapshot& rows() const { return rows_; }

    // Paints page `page` (from 0) in black. The painter's coordinates must be
    // millimetres with the origin at the paper's top-left corner; nothing is
    // painted behind the texts, the caller lays the paper down. The painter's
    // state is restored on return.
    void paintPage(QPainter& painter, std::int64_t page) const;

    // The report's fonts, 10 point, sized for coordinates of 1/100 mm.
    [[nodiscard]] static QFont font(ReportLayout::Face face);

private:
    ReadingsTable::Snapshot rows_;
    QFont symbol_;
    QFont arial_;
    QFontMetricsF symbolMetrics_;
    QFontMetricsF arialMetrics_;
};

} // namespace qm45
