#pragma once

#include "record/ReadingsTable.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <functional>
#include <vector>

namespace qm45 {

// The grid's view of the readings table, and the way rows get into the table
// while a grid shows it.
//
// Views learn of new rows in batches: append() only stores the row and arms a
// 100 ms timer, and when it fires every row added meanwhile is announced as
// one insertion, followed by newestRowsShown(). A view thus pays for layout,
// following and repainting at most ten times a second however fast rows come,
// and a per-sample cost never depends on the size of the table.
//
// Main thread only.
class ReadingsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column : int { ColNo, ColTime, ColFunction, ColValue, ColUnit, ColJudge };
    static constexpr int kColumnCount = 6;
    // At most ten announcements a second.
    static constexpr int kRefreshIntervalMs = 100;

    explicit ReadingsModel(ReadingsTable& table, QObject* parent = nullptr);

    [[nodiscard]] ReadingsTable& table() { return table_; }
    [[nodiscard]] const ReadingsTable& table() const { return table_; }

    // The table field a column shows.
    [[nodiscard]] static Field columnField(int column);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index,
                                int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    // One row, shown with the next announcement.
    void append(const ReadingRow& row);
    // Rows that belong together, such as a loaded file's: appended one after
    // the other with nothing in between and announced as one insertion (at
    // once, or at thaw() when frozen).
    void appendBatch(const std::vector<ReadingRow>& rows);
    // Empties the table. Views are reset at once, frozen or not, since the
    // rows they show are gone.
    void clear();
    // ReadingsTable::rebuild through the views. When every row the views
    // show stays where it is, the new rows are announced as one insertion
    // (at once, or at thaw() when frozen); otherwise the views are reset.
    void rebuild(std::int64_t before, std::int64_t after,
                 const std::function<void(ReadingsTable&)>& insert);

    // Announces the rows appended since the last announcement now. Does
    // nothing while frozen.
    void refresh();

    // While frozen (a file being written or read, the report preview open)
    // views keep showing the rows they had; appends go on into the table.
    // Freezes nest; the last thaw() announces what was appended meanwhile.
    void freeze();
    void thaw();
    [[nodiscard]] bool isFrozen() const { return freezes_ > 0; }

    // Rows appended but not yet announced.
    [[nodiscard]] std::int64_t pendingRows() const;

signals:
    // Rows were appended to the views' end: the grid moves to the newest.
    void newestRowsShown();

private:
    void schedule();

    ReadingsTable& table_;
    QTimer refreshTimer_;
    int shown_ = 0;
    int freezes_ = 0;
};

} // namespace qm45
