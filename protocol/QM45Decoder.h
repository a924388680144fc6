#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm45 {

// Every on/off element of the LCD replica, as bit positions of LcdState::shown.
enum Indicator : std::uint32_t {
    LcdFH, // minus sign
    LcdAuto,
    // unit group
    LcdV,
    Lcdm,
    LCDohm,
    LCDk,
    LCDM1,
    LCDF,
    LCDn,
    LCDu,
    LCDCS,
    LCDA,
    LCDHz,
    LCDBF,
    LCDFm,
    LCDDI,
    LCDFS,
    lcdW,
    // coupling group
    LcdAC,
    LCDJa,
    LcdDc1,
    LCDTRMST,
    LCDTRMS,
    // decimal points after digit 1..4
    LcdP0,
    LcdP1,
    LcdP2,
    LcdP3,
    IndicatorCount
};

constexpr std::uint32_t bit(Indicator i) { return std::uint32_t(1) << i; }

// What the replica shows. A digit is '0'..'9', '-', '@' (drawn as L) or 0 for an empty place.
struct LcdState {
    std::array<char, 5> digits{}; // LcdD0, LcdDa, LcdDb, LcdDc, LcdDd
    std::uint32_t shown = 0;

    [[nodiscard]] bool isShown(Indicator i) const { return (shown & bit(i)) != 0; }
    void show(Indicator i) { shown |= bit(i); }
    void hide(Indicator i) { shown &= ~bit(i); }
    void setShown(Indicator i, bool on) { on ? show(i) : hide(i); }

    // Minus sign and 3 9 9 9 9, nothing else lit.
    static LcdState startup();

    friend bool operator==(const LcdState& a, const LcdState& b) {
        return a.digits == b.digits && a.shown == b.shown;
    }
    friend bool operator!=(const LcdState& a, const LcdState& b) { return !(a == b); }
};

// The most recent reading. Texts are short enough for the small-string buffer,
// so filling one allocates nothing.
struct CurrentReading {
    std::string ValueText;
    double NumericValue = 0;
    std::string FunctionText;
    std::string UnitText; // unit code: "*" ohm, "#" deg C, "?" deg F, letters as themselves
    std::string AutoText;
};

// Change detection carried from frame to frame.
struct DecoderMemory {
    std::string PrevUnitText = "113"; // equals no unit text: the first frame is a change
    int PrevDecimalPos = 0;
    int DecimalPos = 0; // -1: no decimal point
};

struct DecoderState {
    LcdState lcd = LcdState::startup();
    CurrentReading reading;
    DecoderMemory memory;
};

struct DecoderContext {
    std::string DecimalMark = ".";
    std::int32_t FullScale = 40000;
    std::int32_t BarMax = 40;
};

struct DecodeResult {
    DecoderState after;        // state after every step that ran
    bool scaleChanged = false; // unit or decimal position changed: show the chart series again
    int barPosition = -1;      // bar graph position, 1..99 unclipped; -1 when rejected before it
    int rejectedAtStep = 0;    // 0 accepted; otherwise 4, 6, 7 or 10
    std::string error;         // "'%s' is not a valid integer value" for a rejected frame
    [[nodiscard]] bool accepted() const { return rejectedAtStep == 0; }
};

// Decodes one frame (11 hexadecimal digits, the last two "DA") against the state
// left by the previous frame. Pure: no I/O, no globals, and no allocation for a
// frame that is accepted (every text stays in the small-string buffer).
//
// The steps, as rejectedAtStep counts them: 1 lamp (the window's), 2 digits,
// 3 clear texts and unit indicators, 4 range digit and function code, 5 function
// table, 6 coupling, 7 flags, 8 percentage, 9 decimal point and ValueText,
// 10 NumericValue, 11 DecimalPos from the points shown, 12 change of scale,
// 13-14 judgement and recording (the window's), 15 bar graph. A rejected frame
// leaves in `after` what the steps before the failing one did; PrevUnitText and
// PrevDecimalPos are unchanged.
//
// A text that is not 11 characters long is rejected at step 4 with nothing
// changed and the error "'<text>' is not a valid frame". A function code outside
// 0-9A-F is rejected at step 4 like a bad range digit.
[[nodiscard]] DecodeResult decodeFrame(std::string_view frameText, const DecoderState& before,
                                       const DecoderContext& context);

} // namespace qm45
