#include "record/RecordRules.h"

namespace qm45 {

RecordRules::Outcome RecordRules::take(const Sample& sample, std::int32_t& no) {
    if (RecordedRows_ >= RecordLimit_)
        return Outcome::OverLimit;

    key_.clear();
    key_ += sample.ValueText;
    key_ += sample.FunctionText;
    key_ += sample.UnitText;
    key_ += sample.AutoText;

    Outcome outcome = Outcome::Repeat;
    if (repeatSet_ || key_ != LastRecordKey_) {
        LastRecordKey_.swap(key_);
        ++RecordedRows_;
        no = RecordNo_;
        outcome = Outcome::Recorded;
    }
    // Counts samples that passed the limit, recorded or not: skipped repeats
    // leave gaps in the numbers.
    if (RecordNo_ < std::numeric_limits<std::int32_t>::max())
        ++RecordNo_;
    return outcome;
}

bool RecordRules::takeLive(Sample& out) {
    if (!frameSinceTick_)
        return false;
    frameSinceTick_ = false;
    out = live_;
    return true;
}

} // namespace qm45
