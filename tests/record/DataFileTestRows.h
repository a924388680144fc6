#pragma once

#include "record/ReadingsTable.h"

#include <QFile>
#include <QString>
#include <QStringList>

// Rows written as "no|time|dc/ac|value|unit|auto|nval", "<null>" standing for
// a NULL field, so that a table or a load can be compared with a short list.
namespace datafiletest {

inline const QString kNull = QStringLiteral("<null>");

inline QString describe(const qm45::ReadingRow& row) {
    using qm45::Field;
    const auto integer = [&](Field f, std::int32_t v) {
        return row.isNull(f) ? kNull : QString::number(v);
    };
    const auto text = [&](Field f, const QString& t) { return row.isNull(f) ? kNull : t; };
    return QStringList{integer(Field::no, row.no),    text(Field::time, row.time),
                       text(Field::dcac, row.dcac),   text(Field::value, row.value),
                       text(Field::unit, row.unit),   text(Field::judge, row.judge),
                       integer(Field::nval, row.nval)}
        .join(QLatin1Char('|'));
}

template <typename Rows> QStringList describeAll(const Rows& rows) {
    QStringList out;
    for (std::int64_t i = 0; i < rows.rowCount(); ++i)
        out << describe(rows.row(i));
    return out;
}

inline qm45::ReadingRow rowFrom(const QString& described) {
    using qm45::Field;
    const QStringList parts = described.split(QLatin1Char('|'));
    Q_ASSERT(parts.size() == qm45::kFieldCount);
    qm45::ReadingRow row;
    QString* texts[] = {&row.time, &row.dcac, &row.value, &row.unit, &row.judge};
    for (int i = 0; i < qm45::kFieldCount; ++i) {
        const auto f = Field(i);
        if (parts[i] == kNull) {
            row.setNull(f);
        } else if (f == Field::no) {
            row.no = parts[i].toInt();
        } else if (f == Field::nval) {
            row.nval = parts[i].toInt();
        } else {
            *texts[i - 1] = parts[i];
        }
    }
    return row;
}

inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll()
                                          : QByteArray("<cannot read ") + path.toUtf8() + '>';
}

// Shows where two byte strings part, for a failure message.
inline QString firstDifference(const QByteArray& actual, const QByteArray& expected) {
    qsizetype i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    const auto around = [i](const QByteArray& b) {
        const qsizetype from = std::max<qsizetype>(0, i - 24);
        return QString::fromLatin1(b.mid(from, 48).toPercentEncoding(" \t/:.-*+#<>=\"'_!?&;"));
    };
    return QStringLiteral("sizes %1 and %2 (expected), first difference at byte %3:\n  actual   "
                          "%4\n  expected %5")
        .arg(actual.size())
        .arg(expected.size())
        .arg(i)
        .arg(around(actual), around(expected));
}

} // namespace datafiletest
