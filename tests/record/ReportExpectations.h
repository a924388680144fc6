#pragma once

#include "record/ReadingsTable.h"
#include "record/ReportLayout.h"

#include <QList>
#include <QString>

// Where the printed list's texts must stand, written out from the report's
// table of bands and columns: millimetres from the paper's top-left corner,
// each text's top-left corner. Bands start at the 10 mm margin; the page
// header and the column header are 10.6 mm tall, a detail line 6.6 mm, and
// the footer band ends on the bottom margin.
namespace report_expect {

struct Placed {
    QString text;
    qm45::ReportLayout::Face face;
    double left;
    double top;
    bool centred = false; // then left is the band's left and the text is centred on 190 mm
};

inline qm45::ReadingRow reading(std::int32_t no, const QString& time, const QString& dcac,
                                const QString& value, const QString& unit, const QString& judge) {
    qm45::ReadingRow r;
    r.no = no;
    r.time = time;
    r.dcac = dcac;
    r.value = value;
    r.unit = unit;
    r.judge = judge;
    return r;
}

inline Placed title() {
    return {QStringLiteral("The Data Print Title"), qm45::ReportLayout::Face::Symbol, 10.0,
            10.0 + 2.1, true};
}

inline QList<Placed> columnTitles() {
    using F = qm45::ReportLayout::Face;
    const double top = 10.0 + 10.6 + 4.2;
    return {
        {QStringLiteral("No"), F::Symbol, 10.0 + 8.5, top},
        {QStringLiteral("Time"), F::Symbol, 10.0 + 33.9, top},
        {QStringLiteral("DC/AC"), F::Arial, 10.0 + 64.3, top},
        {QStringLiteral("Value"), F::Symbol, 10.0 + 99.5, top},
        {QStringLiteral("Unit"), F::Symbol, 10.0 + 132.3, top},
        {QStringLiteral("AUTO"), F::Symbol, 10.0 + 163.0, top},
    };
}

// A detail line's values, line counted from 0 on its page; empty texts print
// nothing and are left out.
inline QList<Placed> detailLine(int line, const QString& no, const QString& time,
                                const QString& dcac, const QString& value, const QString& unit,
                                const QString& judge) {
    using F = qm45::ReportLayout::Face;
    const double top = 10.0 + 2 * 10.6 + line * 6.6 + 2.1;
    QList<Placed> placed;
    const auto add = [&](const QString& text, F face, double left) {
        if (!text.isEmpty())
            placed.push_back({text, face, 10.0 + left, top});
    };
    add(no, F::Arial, 8.5);
    add(time, F::Arial, 33.9);
    add(dcac, F::Arial, 65.6);
    add(value, F::Arial, 99.5);
    add(unit, F::Symbol, 131.2);
    add(judge, F::Symbol, 163.0);
    return placed;
}

inline Placed footer() {
    return {QStringLiteral("The Data Print Foot"), qm45::ReportLayout::Face::Symbol, 10.0 + 8.5,
            297.0 - 10.0 - 10.6 + 4.2};
}

// A whole page: title, column titles, the given detail lines, footer.
inline QList<Placed> page(const QList<Placed>& details) {
    QList<Placed> all{title()};
    all += columnTitles();
    all += details;
    all.push_back(footer());
    return all;
}

inline QString describe(const Placed& p) {
    return QStringLiteral("\"%1\" %2 at (%3, %4)%5")
        .arg(p.text, p.face == qm45::ReportLayout::Face::Arial ? QStringLiteral("Arial")
                                                               : QStringLiteral("symbol font"))
        .arg(p.left, 0, 'f', 2)
        .arg(p.top, 0, 'f', 2)
        .arg(p.centred ? QStringLiteral(" centred") : QString());
}

} // namespace report_expect
