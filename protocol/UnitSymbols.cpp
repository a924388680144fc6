#include "protocol/UnitSymbols.h"

namespace qm45 {

namespace {

struct SymbolCode {
    char16_t code;
    const char16_t* text;
};

// Diode and continuity have no character of their own; these pictures use
// characters that Arial and its metric clones all carry.
constexpr SymbolCode kSymbols[] = {
    {u'*', u"\u03A9"},    // ohm
    {u'+', u"\u00B5"},    // micro
    {u'#', u"\u00B0C"},   // degree Celsius
    {u'?', u"\u00B0F"},   // degree Fahrenheit
    {u')', u"\u25BA|"},   // diode: triangle against a bar
    {u'&', u"\u2022)))"}, // continuity: a beeper and its sound
};

const SymbolCode* findSymbol(QChar code) {
    for (const SymbolCode& s : kSymbols) {
        if (code.unicode() == s.code)
            return &s;
    }
    return nullptr;
}

} // namespace

QString unitSymbolText(QChar code) {
    if (const SymbolCode* s = findSymbol(code))
        return QString::fromUtf16(s->text);
    return QString(code);
}

bool isUnitSymbolCode(QChar code) {
    return findSymbol(code) != nullptr;
}

QString unitDisplayText(QStringView code) {
    QString text;
    text.reserve(code.size() + 2);
    for (QChar c : code)
        text += unitSymbolText(c);
    return text;
}

QString unitDisplayText(std::string_view code) {
    return unitDisplayText(QString::fromLatin1(code.data(), qsizetype(code.size())));
}

} // namespace qm45
