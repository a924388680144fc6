#pragma once

#include "record/Sample.h"

#include <cstdint>
#include <limits>
#include <string>

namespace qm45 {

// Which samples become rows, and their numbers: the record limit, the repeat
// rule and the sequence numbering, plus the live sample that timed sampling
// records. Shared by the window's recorder and qm45-log, so both record the
// same rows from the same frames. Holds no rows.
class RecordRules {
public:
    enum class Outcome {
        Recorded,  // a new row, numbered `no`
        Repeat,    // equal to the last row with repeats off: skipped, its number used
        OverLimit, // the limit is reached: refused, no number used
    };

    static constexpr std::int64_t kUnlimited = std::numeric_limits<std::int64_t>::max();

    // Decides one sample. On Recorded, `no` is the row's number.
    Outcome take(const Sample& sample, std::int32_t& no);

    // A sample of every accepted frame: the one a timed tick records.
    void frameDecoded(const Sample& sample) {
        live_ = sample;
        frameSinceTick_ = true;
    }
    // A tick of the sampling timer: the live sample when a frame was decoded
    // since the previous tick (or since timed sampling began), else none.
    [[nodiscard]] bool takeLive(Sample& out);
    // Timed sampling begins: frames decoded so far are old by the first tick.
    void startTimedSampling() { frameSinceTick_ = false; }

    // Numbering restarts at 1 and no rows count against the limit. The last
    // key stays: a reading equal to the last one before is still a repeat.
    void restart() {
        RecordNo_ = 1;
        RecordedRows_ = 0;
    }
    // The next row is numbered `next` (a log continued from an earlier run).
    void continueNumbering(std::int32_t next) { RecordNo_ = next < 1 ? 1 : next; }
    // Applies from the next sample; rows beyond a lowered limit stay.
    void setRecordLimit(std::int64_t limit) { RecordLimit_ = limit; }
    // True: every sample is recorded. False: a sample whose key equals the
    // last recorded key is skipped.
    void setRepeatSet(bool recordRepeats) { repeatSet_ = recordRepeats; }

    [[nodiscard]] std::int32_t RecordNo() const { return RecordNo_; }
    [[nodiscard]] std::int64_t RecordedRows() const { return RecordedRows_; }
    [[nodiscard]] std::int64_t RecordLimit() const { return RecordLimit_; }
    [[nodiscard]] bool repeatSet() const { return repeatSet_; }
    // Value, function, unit and auto-range texts joined without separators.
    [[nodiscard]] const std::string& LastRecordKey() const { return LastRecordKey_; }

private:
    std::int32_t RecordNo_ = 1;
    std::int64_t RecordedRows_ = 0;
    std::int64_t RecordLimit_ = kUnlimited;
    bool repeatSet_ = true;
    bool frameSinceTick_ = false;
    Sample live_;
    std::string LastRecordKey_;
    std::string key_; // reused for each sample's key
};

} // namespace qm45
