#include "record/Recorder.h"

#include "record/ReadingsModel.h"
#include "record/RecordClock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qm45 {

Recorder::Recorder(ReadingsModel& model, const RecordClock& clock, Chart chart)
    : model_(model), clock_(clock), chart_(std::move(chart)) {
    rules_.setRecordLimit(kDefaultRecordLimit);
}

const QString& Recorder::TextCache::convert(const std::string& s) {
    if (text.isNull() || s != source) {
        source = s;
        text = QString::fromStdString(s);
    }
    return text;
}

void Recorder::INDataToTable(const Sample& sample) {
    std::int32_t no = 0;
    switch (rules_.take(sample, no)) {
    case RecordRules::Outcome::OverLimit: {
        // Set first: the handler may run the event loop, and more samples.
        const ReadingsTable::Mark now = model_.table().mark();
        if (!limitNoticed_ || limitNoticed_->generation != now.generation ||
            limitNoticed_->rows != now.rows) {
            limitNoticed_ = now;
            if (limitReached_)
                limitReached_(RecordLimit());
        }
        return;
    }
    case RecordRules::Outcome::Repeat:
        return;
    case RecordRules::Outcome::Recorded:
        break;
    }

    const QTime now = clock_.timeOfDay();
    const int second = now.isValid() ? now.msecsSinceStartOfDay() / 1000 : -1;
    if (second != lastSecond_ || lastTime_.isNull()) {
        lastTime_ = formatTime(now, clock_.timeSeparator());
        lastSecond_ = second;
    }
    row_.no = no;
    row_.time = lastTime_;
    row_.dcac = function_.convert(sample.FunctionText);
    row_.value = value_.convert(sample.ValueText);
    row_.unit = unit_.convert(sample.UnitText);
    row_.judge = judge_.convert(sample.JudgeText);
    row_.nval = storedCount(sample.NumericValue);
    row_.nullMask = 0;
    model_.append(row_);

    if (chart_.addValue) {
        const int page = chart_.addValue(sample.NumericValue);
        if (chart_.showPage)
            chart_.showPage(page);
    }
}

void Recorder::timedSample() {
    // A copy: a frame decoded while this sample is recorded replaces the live one.
    Sample sample;
    if (rules_.takeLive(sample))
        INDataToTable(sample);
}

void Recorder::closeData() {
    if (chart_.clearChart) {
        const int page = chart_.clearChart();
        if (chart_.showPage)
            chart_.showPage(page);
    }
    if (model_.table().rowCount() > 0)
        model_.clear();
    rules_.restart();
    limitNoticed_.reset();
}

QString Recorder::formatTime(const QTime& time, const QString& separator) {
    if (!time.isValid())
        return QString();
    QString text;
    text.reserve(6 + 2 * separator.size());
    const auto twoDigits = [&text](int n) {
        text += QChar(u'0' + n / 10);
        text += QChar(u'0' + n % 10);
    };
    twoDigits(time.hour());
    text += separator;
    twoDigits(time.minute());
    text += separator;
    twoDigits(time.second());
    return text;
}

int Recorder::samplingPeriodSeconds(const QString& text) {
    constexpr int maxSeconds = std::numeric_limits<int>::max() / 1000;
    bool ok = false;
    const int seconds = text.toInt(&ok, 10);
    return ok && seconds > 0 && seconds <= maxSeconds ? seconds : 0;
}

std::int32_t Recorder::storedCount(double numericValue) {
    if (std::isnan(numericValue))
        return 0;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return std::int32_t(std::llround(std::clamp(numericValue, lo, hi)));
}

} // namespace qm45
