#include "record/ReadingsModel.h"

#include "protocol/UnitSymbols.h"

#include <limits>

namespace qm45 {

namespace {
constexpr std::int64_t kMaxShownRows = std::numeric_limits<int>::max();

const char* const kTitles[ReadingsModel::kColumnCount] = {"no.",   "time", "Function",
                                                          "value", "unit", "Judge"};
const Qt::Alignment kAlignments[ReadingsModel::kColumnCount] = {
    Qt::AlignLeft | Qt::AlignVCenter,  Qt::AlignHCenter | Qt::AlignVCenter,
    Qt::AlignLeft | Qt::AlignVCenter,  Qt::AlignRight | Qt::AlignVCenter,
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignHCenter | Qt::AlignVCenter};
} // namespace

ReadingsModel::ReadingsModel(ReadingsTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kRefreshIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &ReadingsModel::refresh);
    shown_ = int(std::min(table_.rowCount(), kMaxShownRows));
}

Field ReadingsModel::columnField(int column) {
    switch (column) {
    case ColNo:
        return Field::no;
    case ColTime:
        return Field::time;
    case ColFunction:
        return Field::dcac;
    case ColValue:
        return Field::value;
    case ColUnit:
        return Field::unit;
    default:
        return Field::judge;
    }
}

int ReadingsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int ReadingsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ReadingsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_ || index.column() < 0 ||
        index.column() >= kColumnCount)
        return {};
    const int column = index.column();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kAlignments[column]);
    if (role != Qt::DisplayRole)
        return {};
    const std::int64_t row = index.row();
    const Field field = columnField(column);
    if (table_.isNull(row, field))
        return QString();
    if (field == Field::no)
        return QString::number(table_.integer(row, field));
    const QString& text = table_.text(row, field);
    return field == Field::unit ? unitDisplayText(QStringView(text)) : text;
}

QVariant ReadingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kTitles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kAlignments[section]);
    return {};
}

Qt::ItemFlags ReadingsModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void ReadingsModel::append(const ReadingRow& row) {
    table_.append(row);
    schedule();
}

void ReadingsModel::appendBatch(const std::vector<ReadingRow>& rows) {
    for (const ReadingRow& row : rows)
        table_.append(row);
    refresh();
}

void ReadingsModel::clear() {
    beginResetModel();
    table_.clear();
    shown_ = 0;
    endResetModel();
}

void ReadingsModel::rebuild(std::int64_t before, std::int64_t after,
                            const std::function<void(ReadingsTable&)>& insert) {
    if (before >= shown_) {
        table_.rebuild(before, after, insert);
        refresh();
        return;
    }
    beginResetModel();
    try {
        table_.rebuild(before, after, insert);
    } catch (...) {
        endResetModel();
        throw;
    }
    // Unfrozen views show every row at once; frozen ones learn of the rows
    // at thaw(), as of any other.
    shown_ = isFrozen() ? 0 : int(std::min(table_.rowCount(), kMaxShownRows));
    endResetModel();
    if (shown_ > 0)
        emit newestRowsShown();
}

void ReadingsModel::refresh() {
    refreshTimer_.stop();
    if (isFrozen())
        return;
    const int total = int(std::min(table_.rowCount(), kMaxShownRows));
    if (total == shown_)
        return;
    if (total < shown_) {
        // The table was cleared behind the model's back.
        beginResetModel();
        shown_ = total;
        endResetModel();
        return;
    }
    beginInsertRows({}, shown_, total - 1);
    shown_ = total;
    endInsertRows();
    emit newestRowsShown();
}

void ReadingsModel::freeze() {
    ++freezes_;
    refreshTimer_.stop();
}

void ReadingsModel::thaw() {
    if (freezes_ == 0)
        return;
    if (--freezes_ == 0)
        refresh();
}

std::int64_t ReadingsModel::pendingRows() const {
    return std::min(table_.rowCount(), kMaxShownRows) - shown_;
}

void ReadingsModel::schedule() {
    if (!isFrozen() && !refreshTimer_.isActive())
        refreshTimer_.start();
}

} // namespace qm45
