#pragma once

#include <QSizeF>

#include <cstdint>

class QPainter;

namespace qm45 {

// A fixed-layout document the print preview shows and prints. Pages are
// painted when asked for, one at a time, so a document of any length costs
// nothing until a page is looked at.
class PreviewDocument {
public:
    virtual ~PreviewDocument() = default;

    [[nodiscard]] virtual std::int64_t pageCount() const = 0;
    [[nodiscard]] virtual QSizeF pageSizeMm() const = 0;
    // Paints page `page` (from 0) onto a painter whose coordinates are
    // millimetres from the paper's top-left corner; the paper is already laid.
    virtual void paintPage(QPainter& painter, std::int64_t page) const = 0;
};

} // namespace qm45
