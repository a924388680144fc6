#pragma once

#include "record/ReadingsTable.h"
#include "record/RecordRules.h"
#include "record/Sample.h"

#include <QString>
#include <QTime>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qm45 {

class ReadingsModel;
class RecordClock;

// Turns samples into rows of the readings table: the gates (record
// limit, repeat rule), the sequence numbers and the time column, and one chart
// point per row. The controls that decide when a sample is taken live in
// RecorderControls.
//
// Main thread only: samples come from frame events and timer ticks, so one
// never runs inside another or inside Close Data.
class Recorder {
public:
    // The trend chart's side. Each member is called only when set.
    struct Chart {
        // Adds one point; returns the page number to show.
        std::function<int(double value)> addValue;
        // Empties the chart; returns the page number to show.
        std::function<int()> clearChart;
        // Shows a page number (the caption of the page button).
        std::function<void(int page)> showPage;
    };

    static constexpr std::int32_t kDefaultRecordLimit = 10000;
    static constexpr std::int32_t kLimitless = 10000000;

    // The model and clock must outlive the recorder.
    Recorder(ReadingsModel& model, const RecordClock& clock, Chart chart = {});

    // Records one sample: appends a row unless the limit is reached or, with
    // repeats off, the reading equals the last one recorded.
    void INDataToTable(const Sample& sample);

    // Called with every sample of a frame the decoder accepted; kept as the
    // live sample for the sampling timer.
    void frameDecoded(const Sample& sample) { rules_.frameDecoded(sample); }
    // A tick of the sampling timer: records the live sample when a frame was
    // decoded since the previous tick (or since timed sampling began); else
    // nothing, not even a number, since the reading is not live.
    void timedSample();
    // Timed sampling begins: frames decoded so far are old by the first tick.
    void startTimedSampling() { rules_.startTimedSampling(); }

    // Called with the limit when a sample is refused by it, once until the
    // limit is chosen again or the table changes (Close Data, a loaded file).
    void setLimitReachedHandler(std::function<void(std::int32_t limit)> handler) {
        limitReached_ = std::move(handler);
    }

    // Close Data after the user confirmed: chart emptied, table emptied,
    // numbering restarted. The last key stays, so a reading equal to the last
    // one before the clear is still a repeat.
    void closeData();

    // Applies from the next sample; rows beyond a lowered limit stay.
    void setRecordLimit(std::int32_t limit) {
        rules_.setRecordLimit(limit);
        limitNoticed_.reset();
    }
    // Ticked "Repeat": every sample is recorded. Unticked: a sample whose key
    // equals the last recorded key is skipped (its number is still used).
    void setRepeatSet(bool recordRepeats) { rules_.setRepeatSet(recordRepeats); }

    [[nodiscard]] std::int32_t RecordNo() const { return rules_.RecordNo(); }
    // At most the limit, which the window holds to 32 bits.
    [[nodiscard]] std::int32_t RecordedRows() const {
        return static_cast<std::int32_t>(rules_.RecordedRows());
    }
    [[nodiscard]] std::int32_t RecordLimit() const {
        return static_cast<std::int32_t>(rules_.RecordLimit());
    }
    [[nodiscard]] bool repeatSet() const { return rules_.repeatSet(); }
    // Value, function, unit and auto-range texts joined without separators.
    [[nodiscard]] const std::string& LastRecordKey() const { return rules_.LastRecordKey(); }
    [[nodiscard]] const RecordRules& rules() const { return rules_; }

    // "hh:mm:ss" with the given separator, hours 00 to 23.
    [[nodiscard]] static QString formatTime(const QTime& time, const QString& separator);
    // The sampling period in seconds that an edit's text asks for, or 0 when
    // the text must be repaired to "1": not a decimal integer, 0, negative, or
    // too long for a timer counting milliseconds in 32 bits.
    [[nodiscard]] static int samplingPeriodSeconds(const QString& text);
    // The reading's signed count as stored in nval: rounded, and held to the
    // 32-bit range (a value that is not a number stores 0).
    [[nodiscard]] static std::int32_t storedCount(double numericValue);

private:
    // The last conversion of one of the reading's texts: a reading's texts
    // change rarely from sample to sample, so most samples convert nothing.
    struct TextCache {
        std::string source;
        QString text;
        const QString& convert(const std::string& s);
    };

    ReadingsModel& model_;
    const RecordClock& clock_;
    Chart chart_;

    RecordRules rules_;
    // The table as it was when the limit was last announced.
    std::optional<ReadingsTable::Mark> limitNoticed_;
    std::function<void(std::int32_t)> limitReached_;

    TextCache value_;
    TextCache function_;
    TextCache unit_;
    TextCache judge_;
    int lastSecond_ = -1;
    QString lastTime_;
    ReadingRow row_; // reused so a sample copies shared strings, not characters
};

} // namespace qm45
