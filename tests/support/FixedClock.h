#pragma once

#include "record/RecordClock.h"

namespace qm45::test {

// A clock that stands still at a time the test sets.
class FixedClock final : public RecordClock {
public:
    [[nodiscard]] QTime timeOfDay() const override { return time; }
    [[nodiscard]] QString timeSeparator() const override { return separator; }
    QTime time{9, 5, 3};
    QString separator = QStringLiteral(":");
};

} // namespace qm45::test
