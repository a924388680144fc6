#include "app/LoggerRun.h"

#include "app/ExceptionText.h"
#include "app/LoggerConsole.h"
#include "link/AccessHelp.h"
#include "link/HidDeviceController.h"
#include "link/LinuxSerialPortDirectory.h"
#include "link/SerialPortDriver.h"
#include "link/UsbCable.h"
#include "record/LimitNumber.h"
#include "record/RecordClock.h"
#include "record/Recorder.h"
#include "record/SystemLocale.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <limits>
#include <unistd.h>

namespace qm45 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLinkTickMs = 100;
constexpr auto kQuietAfter = std::chrono::seconds(1);
constexpr auto kSilenceWarning = std::chrono::seconds(10);
constexpr auto kBadFrameWarningGap = std::chrono::minutes(1);

// A port named by its device path is that device, whatever its COM number.
class FixedPathDirectory final : public SerialPortDirectory {
public:
    explicit FixedPathDirectory(QString path) : path_(std::move(path)) {}
    [[nodiscard]] QString devicePathFor(int) const override { return path_; }

private:
    QString path_;
};

std::string describeRunning(Clock::duration running) {
    const long long total = std::chrono::duration_cast<std::chrono::seconds>(running).count();
    const long long days = total / 86400;
    char text[48];
    if (days > 0)
        std::snprintf(text, sizeof text, "%lldd %02lld:%02lld:%02lld", days, total / 3600 % 24,
                      total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    return text;
}

std::string std8(const QString& text) {
    return text.toStdString();
}

} // namespace

// Every handler the event loop calls: an exception ends the run as failed
// instead of escaping into Qt.
template <typename F> auto LoggerRun::guarded(F f) {
    return [this, f](auto&&... args) -> decltype(f(std::forward<decltype(args)>(args)...), void()) {
        try {
            f(std::forward<decltype(args)>(args)...);
        } catch (...) {
            console_.error(std8(describeException(std::current_exception())));
            finish(kLoggerFailed);
        }
    };
}

LoggerRun::LoggerRun(LoggerOptions options, LoggerServices services, LoggerConsole& console)
    : options_(std::move(options)), services_(std::move(services)), console_(console),
      file_(services_.filePlatform ? *services_.filePlatform : RowLogFile::systemPlatform()) {
    switch (options_.format) {
    case LoggerOptions::Format::Text:
        format_ = LogFormat::Text;
        break;
    case LoggerOptions::Format::Csv:
        format_ = LogFormat::Csv;
        break;
    case LoggerOptions::Format::Jsonl:
        format_ = LogFormat::Jsonl;
        break;
    }
    if (!services_.now)
        services_.now = [] { return QDateTime::currentDateTime(); };
    if (!services_.locale)
        services_.locale = std::make_shared<LinuxSystemLocale>();
    timeSeparator_ = services_.timeSeparator.isEmpty() ? SystemRecordClock().timeSeparator()
                                                       : services_.timeSeparator;
    line_.reserve(256);
}

LoggerRun::~LoggerRun() {
    // The cable goes back before the controller; the driver closes its port.
    cable_.reset();
    hid_.reset();
    serial_.reset();
}

std::optional<int> LoggerRun::start() {
    decimalMark_ = services_.locale->decimalMark();
    separator_ = LimitNumber::separatorOf(decimalMark_);
    protocol_.context().DecimalMark = decimalMark_.toStdString();
    protocol_.context().FullScale = 40000;
    protocol_.context().BarMax = 40;

    high_ = QString::fromStdString(options_.high);
    low_ = QString::fromStdString(options_.low);
    for (const auto& [name, text] : {std::pair{"--high", high_}, std::pair{"--low", low_}}) {
        if (!LimitNumber::parse(text, separator_)) {
            const QString mark = separator_.isNull() ? QStringLiteral("none, whole numbers only")
                                                     : QString(separator_);
            console_.error(
                std::string(name) + " " + std8(text) +
                " is not a number as this machine writes them (decimal mark: " + std8(mark) + ")");
            return kLoggerMistake;
        }
    }
    rules_.setRepeatSet(options_.repeat);
    if (options_.limit)
        rules_.setRecordLimit(*options_.limit);

    if (!openLink())
        return kLoggerNoLink;
    if (!openOutput()) {
        cable_.reset();
        hid_.reset();
        serial_.reset();
        return kLoggerFailed;
    }

    running_ = true;
    started_ = Clock::now();
    lastFrame_ = started_;
    lastBadWarning_ = started_ - kBadFrameWarningGap;

    linkTimer_.setInterval(kLinkTickMs);
    connect(&linkTimer_, &QTimer::timeout, this, guarded([this] { linkTick(); }));
    linkTimer_.start();
    secondTimer_.setInterval(1000);
    connect(&secondTimer_, &QTimer::timeout, this, guarded([this] { secondTick(); }));
    secondTimer_.start();
    if (console_.terminal()) {
        statusTimer_.setInterval(250);
        connect(&statusTimer_, &QTimer::timeout, this, [this] { refreshStatus(); });
        statusTimer_.start();
        refreshStatus();
    }
    if (options_.intervalSeconds) {
        intervalTimer_.setInterval(*options_.intervalSeconds * 1000);
        connect(&intervalTimer_, &QTimer::timeout, this, guarded([this] {
            Sample sample;
            if (rules_.takeLive(sample))
                record(sample);
        }));
        rules_.startTimedSampling();
        intervalTimer_.start();
    }
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, guarded([this] { scheduleDeadline(); }));
    scheduleDeadline();
    return std::nullopt;
}

bool LoggerRun::openLink() {
    if (options_.usb) {
        portName_ = QStringLiteral("USB cable");
        try {
            hid_ = std::make_unique<THidDeviceController>(services_.hidPlatform);
        } catch (const std::exception& e) {
            console_.error(std::string("the USB devices cannot be listed: ") + e.what());
            return false;
        }
        hid_->setOnHandlerFailure([this](THidDevice*, std::exception_ptr error) {
            console_.error(std8(describeException(error)));
            finish(kLoggerFailed);
        });
        cable_ = std::make_unique<UsbCableLink>(
            *hid_,
            guarded([this](std::uint8_t reportId, const std::uint8_t* bytes, std::uint16_t size) {
                protocol_.HidData45A(reportId, bytes, size);
            }),
            [this](UsbCableLink::State state) { usbStateChanged(state); });
        cable_->start();
        switch (cable_->state()) {
        case UsbCableLink::State::Listening:
            linkState_ = LinkState::Quiet;
            return true;
        case UsbCableLink::State::NoCable:
            console_.error(std8(UsbCable::kNoCableText));
            break;
        case UsbCableLink::State::NoAccess:
            console_.error(std8(cableAccessHelp()));
            break;
        }
        cable_.reset();
        hid_.reset();
        return false;
    }

    std::shared_ptr<SerialPortDirectory> ports = services_.serialPorts;
    if (!options_.devicePath.empty()) {
        portName_ = QString::fromStdString(options_.devicePath);
        ports = std::make_shared<FixedPathDirectory>(portName_);
    } else {
        portName_ = QStringLiteral("COM %1").arg(options_.comNumber);
        if (!ports)
            ports = std::make_shared<LinuxSerialPortDirectory>();
    }
    serial_ = std::make_unique<TSerialPortDriver>(nullptr, std::move(services_.serialPlatform),
                                                  std::move(ports));
    serial_->setComPort(TComPortNumber(options_.devicePath.empty() ? options_.comNumber - 1 : 0));
    serial_->setComPortSpeed(br2400);
    serial_->setOnReceiveData(guarded([this](TSerialPortDriver*, const std::uint8_t* bytes,
                                             std::int32_t count) { received(bytes, count); }));
    serial_->setOnPortLost(
        guarded([this](TSerialPortDriver*, const QString& device) { portLost(device); }));
    if (!serial_->OpenPort()) {
        console_.error(std8(serialOpenFailureText(portName_, serial_->LastOpenFailure())));
        serial_.reset();
        return false;
    }
    linkState_ = LinkState::Quiet;
    return true;
}

bool LoggerRun::openOutput() {
    std::string error;
    const std::string header = LogFormats::header(format_);
    bool ok = false;
    if (options_.toStandardOutput()) {
        ok = file_.openStream(STDOUT_FILENO, header, error);
    } else {
        const LogFormat format = format_;
        ok = file_.open(
            options_.output, options_.append ? RowLogFile::Mode::Append : RowLogFile::Mode::New,
            header,
            [format](std::string_view first) { return LogFormats::beginsLike(format, first); },
            error);
        // A continued log goes on numbering after its last row.
        if (ok && options_.append) {
            const std::optional<std::int64_t> last =
                LogFormats::rowNumber(format_, file_.lastLine());
            if (last && *last < std::numeric_limits<std::int32_t>::max())
                rules_.continueNumbering(static_cast<std::int32_t>(*last + 1));
        }
        if (ok && file_.repairedBytes() > 0)
            console_.warning(options_.output + ": its last line was cut off (" +
                             std::to_string(file_.repairedBytes()) +
                             " bytes, left by an earlier run that was stopped while writing); "
                             "removed, every whole row kept");
    }
    if (!ok) {
        // Say how, in the terms of the command line.
        const std::string how = "append to it,";
        if (const std::size_t at = error.find(how); !options_.append && at != std::string::npos)
            error.replace(at, how.size(), "give --append to continue it,");
        console_.error(error);
    }
    return ok;
}

void LoggerRun::LcdDisplay45A(const DecodeResult& result) {
    if (finished_)
        return;
    ++frames_;
    lastFrame_ = Clock::now();
    if (linkState_ != LinkState::Receiving)
        linkBack();
    if (!result.accepted()) {
        ++badFrames_;
        const auto now = Clock::now();
        if (now - lastBadWarning_ >= kBadFrameWarningGap) {
            const std::int64_t unseen = badFrames_ - badFramesWarned_ - 1;
            std::string text = "bad frame from " + std8(portName_) + ": " + result.error;
            if (unseen > 0)
                text += " (and " + std::to_string(unseen) + " more since the last warning)";
            console_.warning(text);
            lastBadWarning_ = now;
            badFramesWarned_ = badFrames_;
        }
        return;
    }
    static_cast<CurrentReading&>(sample_) = result.after.reading;
    // Without a verdict (never, with limits checked at the start) the previous one stands.
    if (const std::optional<bool> pass =
            LimitNumber::judge(QString::fromStdString(sample_.ValueText), high_, low_, separator_))
        sample_.JudgeText = *pass ? LimitNumber::kPassText : LimitNumber::kFailText;
    haveReading_ = true;
    if (options_.intervalSeconds)
        rules_.frameDecoded(sample_); // the next tick records it
    else
        record(sample_);
}

void LoggerRun::record(const Sample& sample) {
    if (finished_)
        return;
    LogRow row;
    switch (rules_.take(sample, row.no)) {
    case RecordRules::Outcome::OverLimit:
        if (!limitWarned_) {
            limitWarned_ = true;
            console_.warning("Recording stopped at " + std::to_string(rules_.RecordLimit()) +
                             " rows, the limit given with --limit; the run goes on until it "
                             "is ended.");
        }
        return;
    case RecordRules::Outcome::Repeat:
        return;
    case RecordRules::Outcome::Recorded:
        break;
    }
    row.taken = services_.now();
    row.time = Recorder::formatTime(row.taken.time(), timeSeparator_).toStdString();
    row.sample = &sample;
    line_.clear();
    LogFormats::appendLine(format_, row, separator_, line_);
    std::string error;
    if (!file_.writeLine(line_, error)) {
        const bool toPipe = options_.toStandardOutput();
        if (toPipe && errno == EPIPE) {
            // Whoever read the rows has gone (a pipe into head): nothing is lost.
            finish(kLoggerDone);
            return;
        }
        const std::string where = toPipe ? std::string("standard output") : options_.output;
        console_.error(error + "; the " + std::to_string(rowsWritten_) +
                       " rows before it are kept in " + where);
        finish(kLoggerFailed);
        return;
    }
    ++rowsWritten_;
    if (options_.count && rowsWritten_ >= *options_.count)
        finish(kLoggerDone);
}

void LoggerRun::linkTick() {
    if (!cable_ || cable_->state() != UsbCableLink::State::Listening)
        return;
    // The watchdog as in the window: the cable's idle reports without data.
    if (protocol_.frames().usbIdleCount() < UsbCable::kIdleLimit)
        return;
    protocol_.frames().setUsbIdleCount(0);
    if (linkState_ != LinkState::MeterSilent) {
        if (options_.exitOnLoss) {
            linkGone(std8(UsbCable::kMeterSilentText));
            return;
        }
        console_.warning(std8(UsbCable::kMeterSilentText) + " Waiting for readings.");
        linkState_ = LinkState::MeterSilent;
    }
    // Ask again: a meter switched off and on needs it.
    cable_->setUpAgain();
}

void LoggerRun::secondTick() {
    std::string error;
    if (!file_.syncIfDue(error)) {
        console_.error(error);
        finish(kLoggerFailed);
        return;
    }

    const std::int64_t delta = frames_ - framesAtLastSecond_;
    framesAtLastSecond_ = frames_;
    framesPerSecond_[rateSlot_] = delta;
    rateSlot_ = (rateSlot_ + 1) % framesPerSecond_.size();
    if (rateSeconds_ < int(framesPerSecond_.size()))
        ++rateSeconds_;

    const auto now = Clock::now();
    if (serial_ && linkState_ == LinkState::Lost) {
        if (serial_->OpenPort()) {
            console_.note("qm45-log: " + std8(serialPortName(portName_, serial_->OpenDevice())) +
                          " is back; recording goes on.");
            linkState_ = LinkState::Quiet;
            lastFrame_ = now;
            silenceWarned_ = false;
            lastRetryWarning_.clear();
        } else {
            const SerialOpenFailure& failure = serial_->LastOpenFailure();
            if (!failure.device.isEmpty() && failure.reason != SerialOpenError::NoSuchDevice) {
                const std::string text = std8(serialOpenFailureText(portName_, failure));
                if (text != lastRetryWarning_) {
                    console_.warning(text);
                    lastRetryWarning_ = text;
                }
            }
        }
        return;
    }
    if (linkState_ == LinkState::Receiving && now - lastFrame_ >= kQuietAfter)
        linkState_ = LinkState::Quiet;
    if (serial_ && linkState_ == LinkState::Quiet && !silenceWarned_ &&
        now - lastFrame_ >= kSilenceWarning) {
        silenceWarned_ = true;
        console_.warning("no readings from " + std8(portName_) +
                         " for 10 s: check that the meter is on and its cable plugged in. "
                         "Waiting for readings.");
    }
}

void LoggerRun::linkBack() {
    if (silenceWarned_ || linkState_ == LinkState::MeterSilent)
        console_.note("qm45-log: readings from " + std8(portName_) + " again.");
    silenceWarned_ = false;
    linkState_ = LinkState::Receiving;
}

void LoggerRun::linkGone(const std::string& text) {
    if (options_.exitOnLoss) {
        console_.error(text);
        finish(kLoggerLinkLost);
        return;
    }
    console_.warning(text + " Waiting for it to return.");
    linkState_ = LinkState::Lost;
}

void LoggerRun::portLost(const QString& device) {
    linkGone(std8(serialPortLostText(portName_, device)));
}

void LoggerRun::usbStateChanged(UsbCableLink::State state) {
    // The state at the start is handled by openLink.
    if (!running_ || finished_)
        return;
    switch (state) {
    case UsbCableLink::State::Listening:
        console_.note("qm45-log: the USB interface cable is back; recording goes on.");
        linkState_ = LinkState::Quiet;
        lastFrame_ = Clock::now();
        protocol_.frames().setUsbIdleCount(0);
        break;
    case UsbCableLink::State::NoCable:
        linkGone("the USB interface cable has gone.");
        break;
    case UsbCableLink::State::NoAccess:
        if (linkState_ != LinkState::NoAccess)
            console_.warning(std8(cableAccessHelp()));
        linkState_ = LinkState::NoAccess;
        break;
    }
}

void LoggerRun::scheduleDeadline() {
    if (!options_.duration || finished_)
        return;
    const auto left = started_ + *options_.duration - Clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
    if (ms <= 0) {
        finish(kLoggerDone);
        return;
    }
    // A timer counts milliseconds in 32 bits: long runs look again each day.
    deadline_.start(int(std::min<long long>(ms, 86'400'000)));
}

void LoggerRun::stop() {
    finish(kLoggerDone);
}

std::string LoggerRun::statusText() const {
    std::string text;
    if (haveReading_) {
        text += sample_.ValueText;
        const std::string unit = LogFormats::readableUnit(sample_.UnitText);
        if (!unit.empty())
            text += ' ' + unit;
        if (!sample_.FunctionText.empty())
            text += ' ' + sample_.FunctionText;
        if (!sample_.AutoText.empty())
            text += ' ' + sample_.AutoText;
        if (!sample_.JudgeText.empty())
            text += ' ' + sample_.JudgeText;
    } else {
        text += "no reading yet";
    }
    // The link second: a terminal too narrow for the whole line cuts the
    // running time and the rates first.
    text += " | " + std8(portName_) + ' ';
    switch (linkState_) {
    case LinkState::Receiving:
        text += "receiving";
        break;
    case LinkState::Quiet:
        text += "no data";
        break;
    case LinkState::Lost:
        text += "lost, waiting";
        break;
    case LinkState::NoAccess:
        text += "no access";
        break;
    case LinkState::MeterSilent:
        text += "meter silent";
        break;
    }
    text += " | " + std::to_string(rowsWritten_) + " rows";
    if (limitWarned_)
        text += " (limit reached)";
    double perSecond = 0;
    if (rateSeconds_ > 0) {
        std::int64_t sum = 0;
        for (const std::int64_t n : framesPerSecond_)
            sum += n;
        perSecond = double(sum) / rateSeconds_;
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", perSecond);
    text += std::string(" | ") + rate + " frames/s";
    if (badFrames_ > 0)
        text += " (" + std::to_string(badFrames_) + " bad)";
    text += " | " + describeRunning(Clock::now() - started_);
    return text;
}

void LoggerRun::refreshStatus() {
    if (!finished_)
        console_.status(statusText());
}

void LoggerRun::finish(int status) {
    if (finished_)
        return;
    finished_ = true;
    linkTimer_.stop();
    secondTimer_.stop();
    statusTimer_.stop();
    intervalTimer_.stop();
    deadline_.stop();
    std::string error;
    if (file_.isOpen() && !file_.close(error) && status == kLoggerDone) {
        console_.error(error);
        status = kLoggerFailed;
    }
    if (console_.terminal()) {
        console_.status(statusText());
        console_.finish();
        if (!options_.toStandardOutput())
            console_.note("qm45-log: " + std::to_string(rowsWritten_) + " rows written to " +
                          options_.output);
    }
    // The link is let go from the event loop: this may run inside its own
    // data handler.
    QTimer::singleShot(0, this, [this, status] {
        if (serial_)
            serial_->ClosePort();
        cable_.reset();
        emit finished(status);
    });
}

} // namespace qm45
