#include "protocol/QM45Decoder.h"

#include "protocol/FrameAssembler.h"

#include <initializer_list>

namespace qm45 {

LcdState LcdState::startup() {
    LcdState state;
    state.digits = {'3', '9', '9', '9', '9'};
    state.show(LcdFH);
    return state;
}

namespace {

// Ranges the meter's frame leaves without a decimal position show no point and add no mark.
constexpr int kNoDecimalPoint = -1;

constexpr std::uint32_t kUnitGroup = bit(LcdV) | bit(Lcdm) | bit(LCDohm) | bit(LCDk) | bit(LCDM1) |
                                     bit(LCDF) | bit(LCDn) | bit(LCDu) | bit(LCDCS) | bit(LCDA) |
                                     bit(LCDHz) | bit(LCDBF) | bit(LCDFm) | bit(LCDDI) |
                                     bit(LCDFS) | bit(lcdW);
constexpr std::uint32_t kCouplingGroup =
    bit(LcdAC) | bit(LCDJa) | bit(LcdDc1) | bit(LCDTRMST) | bit(LCDTRMS);
constexpr std::uint32_t kTrueRmsAc = bit(LcdAC) | bit(LCDTRMST) | bit(LCDTRMS);
constexpr std::uint32_t kDecimalPoints = bit(LcdP0) | bit(LcdP1) | bit(LcdP2) | bit(LcdP3);

struct Scale {
    char prefix; // 0: none
    int decimalPos;
};

using RangeTable = std::array<Scale, 10>;

constexpr RangeTable fixedScale(int decimalPos) {
    RangeTable table{};
    for (Scale& s : table)
        s = {0, decimalPos};
    return table;
}

// Entries for range digits 0..n-1; the rest have no prefix and no decimal point.
constexpr RangeTable scaleFrom(std::initializer_list<Scale> leading) {
    RangeTable table = fixedScale(kNoDecimalPoint);
    std::size_t r = 0;
    for (const Scale& s : leading)
        table[r++] = s;
    return table;
}

constexpr Scale kNone{0, kNoDecimalPoint};

struct FunctionRow {
    std::uint32_t indicators;
    const char* unit;
    RangeTable scales;
    const char* uncoupledText; // FunctionText when the coupling digit is 0
};

constexpr RangeTable kVoltScales = scaleFrom({kNone, {0, 0}, {0, 1}, {0, 2}, {0, 3}});

constexpr std::array<FunctionRow, 16> kFunctions = {{
    // 0 is the AC millivolt function (full scale 400.00 mV): shown like 3.
    {bit(LcdV) | bit(Lcdm), "mV", fixedScale(2), "DC"},
    {bit(LcdV), "V", kVoltScales, "DC"},
    {bit(LcdV), "V", kVoltScales, ""},
    {bit(LcdV) | bit(Lcdm), "mV", fixedScale(2), "DC"},
    {bit(LCDohm), "*", scaleFrom({kNone, {0, 2}, {'k', 0}, {'k', 1}, {'k', 2}, {'M', 0}, {'M', 1}}),
     "OHM"},
    {bit(LCDF), "F",
     scaleFrom({kNone, {'n', 1}, {'n', 2}, {'u', 0}, {'u', 1}, {'u', 2}, {'m', 0}, {'m', 1}}),
     "CAP"},
    {bit(LCDCS), "#", fixedScale(3), "Temperature"},
    {bit(LCDA), "A", scaleFrom({{'u', 2}, {'u', 3}}), "DC"},
    {bit(LCDA), "A", scaleFrom({{'m', 1}, {'m', 2}}), "DC"},
    {bit(LCDA), "A", fixedScale(1), "DC"},
    {bit(LCDFm) | bit(LCDohm), "*", fixedScale(2), "OHM"},
    {bit(LCDDI) | bit(LcdV), "V", fixedScale(0), "Diode"},
    {bit(LCDHz), "Hz",
     scaleFrom({{0, 1}, {0, 2}, {'k', 0}, {'k', 1}, {'k', 2}, {'M', 0}, {'M', 1}, {'M', 2}}),
     "Frequency"},
    {bit(LCDFS), "?", fixedScale(3), "Temperature"},
    {bit(lcdW), "W", fixedScale(3), ""},
    {bit(LCDBF), "mA%", fixedScale(2), ""},
}};

constexpr Indicator prefixIndicator(char prefix) {
    switch (prefix) {
    case 'k':
        return LCDk;
    case 'M':
        return LCDM1;
    case 'm':
        return Lcdm;
    case 'n':
        return LCDn;
    default:
        return LCDu;
    }
}

// The four shapes step 2 can give the digits. The later steps key on the shape
// rather than on comparing digit texts with "@": a stray '@' in a malformed frame
// then stays an ordinary (unconvertible) digit instead of faking an overload.
enum class Shape {
    Digits,
    Zeros,
    OverloadHigh, // 0L: d3 "0", d4 "@"
    OverloadLow,  // L0: d3 "@", d4 "0"
};

bool decimalValue(char ch, int& value) {
    if (ch < '0' || ch > '9')
        return false;
    value = ch - '0';
    return true;
}

bool hexValue(char ch, int& value) {
    if (decimalValue(ch, value))
        return true;
    if (ch < 'A' || ch > 'F')
        return false;
    value = ch - 'A' + 10;
    return true;
}

void reject(DecodeResult& result, int step, std::string_view failedText) {
    result.rejectedAtStep = step;
    result.barPosition = -1;
    result.error += '\'';
    result.error += failedText;
    result.error += "' is not a valid integer value";
}

} // namespace

DecodeResult decodeFrame(std::string_view frameText, const DecoderState& before,
                         const DecoderContext& context) {
    DecodeResult result;
    result.after = before;

    // Nothing can be read from a text of another length; the frame handlers never
    // hand one over, so this only guards against misuse and changes nothing.
    if (frameText.size() != std::size_t(FrameAssembler::kFrameLength)) {
        result.rejectedAtStep = 4;
        result.error = "'" + std::string(frameText) + "' is not a valid frame";
        return result;
    }

    LcdState& lcd = result.after.lcd;
    CurrentReading& reading = result.after.reading;
    DecoderMemory& memory = result.after.memory;
    const auto ch = [frameText](int position) { return frameText[std::size_t(position - 1)]; };

    // Step 2: digits. 0 is an empty place.
    std::array<char, 5> d{};
    Shape shape = Shape::Digits;
    bool fifthBlank = false;
    if (ch(1) == 'A') {
        shape = ch(2) == 'C' ? Shape::OverloadLow : Shape::OverloadHigh;
        d[2] = shape == Shape::OverloadLow ? '@' : '0';
        d[3] = shape == Shape::OverloadLow ? '0' : '@';
    } else if (ch(4) == 'B') {
        shape = Shape::Zeros;
        d = {'0', '0', '0', '0', '0'};
    } else {
        for (int i = 0; i < 4; ++i)
            d[std::size_t(i)] = ch(i + 1);
        fifthBlank = ch(5) == 'A';
        d[4] = fifthBlank ? 0 : ch(5);
    }
    lcd.digits = d;

    // Step 3: reset.
    reading.FunctionText.clear();
    reading.AutoText.clear();
    reading.UnitText.clear();
    lcd.shown &= ~kUnitGroup;

    // Step 4: codes. The function code is a hex digit, so only a character outside
    // 0-9A-F can fail there; it is rejected like a bad range digit.
    int range = 0;
    if (!decimalValue(ch(6), range)) {
        reject(result, 4, frameText.substr(5, 1));
        return result;
    }
    int function = 0;
    if (!hexValue(ch(7), function)) {
        reject(result, 4, frameText.substr(6, 1));
        return result;
    }

    // Step 5: function table.
    const FunctionRow& row = kFunctions[std::size_t(function)];
    const Scale& scale = row.scales[std::size_t(range)];
    lcd.shown |= row.indicators;
    if (scale.prefix != 0) {
        reading.UnitText += scale.prefix;
        lcd.show(prefixIndicator(scale.prefix));
    }
    reading.UnitText += row.unit;
    int decimalPos = scale.decimalPos;
    memory.DecimalPos = decimalPos;

    // Step 6: coupling.
    int coupling = 0;
    if (!decimalValue(ch(8), coupling)) {
        reject(result, 6, frameText.substr(7, 1));
        return result;
    }
    lcd.shown &= ~kCouplingGroup;
    reading.FunctionText.clear();
    switch (coupling) {
    case 0:
        reading.FunctionText = row.uncoupledText;
        break;
    case 1:
        lcd.shown |= kTrueRmsAc;
        reading.FunctionText = "AC";
        break;
    case 2:
        lcd.show(LcdDc1);
        reading.FunctionText = "DC";
        break;
    case 3:
        lcd.shown |= kTrueRmsAc | bit(LCDJa) | bit(LcdDc1);
        reading.FunctionText = "AC+DC";
        break;
    default:
        break;
    }

    // Step 7: flags. Bit 3 carries nothing.
    int flags = 0;
    if (!decimalValue(ch(9), flags)) {
        reject(result, 7, frameText.substr(8, 1));
        return result;
    }
    if (flags >= 8)
        flags -= 8;
    bool negative = flags >= 4;
    lcd.setShown(LcdFH, negative);
    if (negative)
        flags -= 4;
    if (flags == 1) {
        lcd.show(LcdAuto);
        reading.AutoText = "AUTO";
    } else {
        lcd.hide(LcdAuto);
    }

    // Step 8: the meter sends a duty-cycle reading as a frequency frame with the minus flag.
    if (lcd.isShown(LCDHz) && lcd.isShown(LcdFH)) {
        decimalPos = 2;
        lcd.hide(LCDk);
        lcd.hide(LCDM1);
        lcd.hide(LCDHz);
        lcd.hide(LcdFH);
        lcd.show(LCDBF);
        negative = false;
        reading.UnitText = "%";
    }
    memory.DecimalPos = decimalPos;

    // Step 9: decimal point and value text.
    lcd.shown &= ~kDecimalPoints;
    if (decimalPos >= 0 && decimalPos <= 3)
        lcd.show(Indicator(LcdP0 + decimalPos));
    if (shape == Shape::OverloadLow) {
        lcd.show(LcdP3);
        lcd.hide(LcdP2);
    }
    std::string& value = reading.ValueText;
    value.clear();
    if (shape == Shape::OverloadLow) {
        // Literal point whatever the system's mark: this is how the meter's own display reads.
        value = "L0.";
    } else {
        if (negative)
            value += '-';
        for (int i = 0; i < 5; ++i) {
            const char digit = d[std::size_t(i)];
            if (digit != 0)
                value += digit == '@' && shape == Shape::OverloadHigh ? 'L' : digit;
            if (i == decimalPos)
                value += context.DecimalMark;
        }
    }

    // Step 10: numeric value.
    if (shape == Shape::OverloadHigh) {
        reading.NumericValue = negative ? -double(context.FullScale) : double(context.FullScale);
    } else if (shape == Shape::OverloadLow) {
        reading.NumericValue = 0;
    } else {
        // Sign and up to five digits: at most 99999, and the text fits a stack buffer.
        char text[6];
        std::size_t length = 0;
        if (negative)
            text[length++] = '-';
        const int count = fifthBlank ? 4 : 5;
        bool valid = true;
        long magnitude = 0;
        for (int i = 0; i < count; ++i) {
            const char digit = d[std::size_t(i)];
            text[length++] = digit;
            int v = 0;
            valid = valid && decimalValue(digit, v);
            magnitude = magnitude * 10 + v;
        }
        if (!valid) {
            reject(result, 10, std::string_view(text, length));
            return result;
        }
        reading.NumericValue = double(negative ? -magnitude : magnitude);
    }

    // Step 11: decimal position as shown.
    for (int p = 3; p >= 0; --p) {
        if (lcd.isShown(Indicator(LcdP0 + p))) {
            decimalPos = p;
            break;
        }
    }
    memory.DecimalPos = decimalPos;

    // Step 12: change of scale.
    if (reading.UnitText != memory.PrevUnitText || decimalPos != memory.PrevDecimalPos) {
        result.scaleChanged = true;
        memory.PrevUnitText = reading.UnitText;
    }
    memory.PrevDecimalPos = decimalPos;

    // Step 15: bar graph. The two leading digits are decimal here: step 10 checked them.
    if (shape == Shape::OverloadHigh) {
        result.barPosition = context.BarMax;
    } else if (shape == Shape::OverloadLow) {
        result.barPosition = 1;
    } else {
        const int n = (d[0] - '0') * 10 + (d[1] - '0');
        result.barPosition = n <= 1 ? 1 : n;
    }
    return result;
}

} // namespace qm45
