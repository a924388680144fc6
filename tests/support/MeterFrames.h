#pragma once

#include "record/SystemLocale.h"

#include <QByteArray>
#include <QString>

namespace qm45::test {

// One frame as the meter sends it: nine payload characters written as hex
// digits ("399991101"), CR, LF. Each byte travels as 0x30 | nibble.
inline QByteArray frame(const char* payload) {
    QByteArray bytes;
    for (const char* p = payload; *p; ++p) {
        const char c = *p;
        const int nibble = (c >= '0' && c <= '9') ? c - '0' : c - 'A' + 10;
        bytes.append(char(0x30 | nibble));
    }
    return bytes + "\r\n";
}

// A system locale with a decimal mark of the test's choosing.
class FixedLocale final : public SystemLocale {
public:
    explicit FixedLocale(QString mark = QStringLiteral(".")) : mark_(std::move(mark)) {}
    [[nodiscard]] QString decimalMark() const override { return mark_; }

private:
    QString mark_;
};

} // namespace qm45::test
