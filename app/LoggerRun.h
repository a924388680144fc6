#pragma once

#include "app/LoggerOptions.h"
#include "link/SerialPlatform.h"
#include "link/UsbCable.h"
#include "protocol/MeterProtocol.h"
#include "record/LogFormats.h"
#include "record/RecordRules.h"
#include "record/RowLogFile.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qm45 {

class HidPlatform;
class LoggerConsole;
class SerialPortDirectory;
class SystemLocale;
class THidDeviceController;
class TSerialPortDriver;

// qm45-log's exit statuses.
enum LoggerExit : int {
    kLoggerDone = 0,     // ended as asked: Ctrl+C, SIGTERM, --count, --duration
    kLoggerFailed = 1,   // the output could not be opened or written
    kLoggerMistake = 2,  // the command line is wrong
    kLoggerNoLink = 3,   // the port or the cable could not be opened at the start
    kLoggerLinkLost = 4, // the link was lost and --exit-on-loss was given
};

// What a run needs of the machine. Empty members select the real ones.
struct LoggerServices {
    std::unique_ptr<SerialPlatform> serialPlatform;
    std::shared_ptr<SerialPortDirectory> serialPorts; // COM n; a device path maps itself
    std::shared_ptr<HidPlatform> hidPlatform;
    std::shared_ptr<SystemLocale> locale;
    QString timeSeparator; // empty: the system's
    std::function<QDateTime()> now;
    std::optional<RowLogFile::Platform> filePlatform;
};

// One run of the recorder without a window: the link (serial port or USB
// cable), the same framing, decoder, judgement, repeat rule, sampling and
// record limit as the window, every row written to the output as it is
// taken. Main thread; driven by the Qt event loop.
class LoggerRun final : public QObject, private MeterProtocol::Listener {
    Q_OBJECT
public:
    enum class LinkState { Receiving, Quiet, Lost, NoAccess, MeterSilent };

    LoggerRun(LoggerOptions options, LoggerServices services, LoggerConsole& console);
    ~LoggerRun() override;

    // Checks the limits, opens the link and then the output. An exit status
    // when the run cannot begin (the reason told on the console); none when it
    // runs. Then `finished` tells how it ended.
    [[nodiscard]] std::optional<int> start();
    // Ends the run after the row being written (Ctrl+C, SIGTERM): status 0.
    void stop();
    // Bytes as the serial port delivers them; what the port's handler calls.
    void received(const std::uint8_t* bytes, std::int32_t count) {
        protocol_.H45ARData(bytes, count);
    }

    [[nodiscard]] std::int64_t rowsWritten() const { return rowsWritten_; }
    [[nodiscard]] std::int64_t frames() const { return frames_; }
    [[nodiscard]] std::int64_t badFrames() const { return badFrames_; }
    [[nodiscard]] LinkState linkState() const { return linkState_; }
    [[nodiscard]] bool isFinished() const { return finished_; }
    // The status line as it would be shown now.
    [[nodiscard]] std::string statusText() const;

signals:
    // Once, queued, with the exit status.
    void finished(int status);

private:
    void LcdDisplay45A(const DecodeResult& result) override;
    void record(const Sample& sample);
    void finish(int status);
    [[nodiscard]] bool openLink();
    [[nodiscard]] bool openOutput();
    void linkTick();
    void secondTick();
    void scheduleDeadline();
    void portLost(const QString& device);
    void usbStateChanged(UsbCableLink::State state);
    void linkBack();
    void linkGone(const std::string& text);
    void refreshStatus();
    template <typename F> auto guarded(F f);

    LoggerOptions options_;
    LoggerServices services_;
    LoggerConsole& console_;
    LogFormat format_ = LogFormat::Text;
    QString portName_; // "COM 2", a device path, or "USB cable"
    QString decimalMark_;
    QChar separator_;
    QString timeSeparator_;
    QString high_;
    QString low_;

    MeterProtocol protocol_{*this};
    RecordRules rules_;
    RowLogFile file_;
    std::string line_;
    Sample sample_; // the last accepted reading with its verdict
    bool haveReading_ = false;

    std::unique_ptr<TSerialPortDriver> serial_;
    std::unique_ptr<THidDeviceController> hid_;
    std::unique_ptr<UsbCableLink> cable_;
    LinkState linkState_ = LinkState::Quiet;
    std::string lastRetryWarning_;

    QTimer linkTimer_;     // 100 ms: USB watchdog
    QTimer secondTimer_;   // 1 s: sync, reconnect, rates, silence
    QTimer statusTimer_;   // 250 ms on a terminal
    QTimer intervalTimer_; // --interval
    QTimer deadline_;      // --duration

    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point lastFrame_{};
    std::int64_t rowsWritten_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t badFrames_ = 0;
    std::int64_t badFramesWarned_ = 0;
    std::chrono::steady_clock::time_point lastBadWarning_{};
    bool silenceWarned_ = false;
    bool limitWarned_ = false;
    std::array<std::int64_t, 5> framesPerSecond_{};
    std::size_t rateSlot_ = 0;
    int rateSeconds_ = 0;
    std::int64_t framesAtLastSecond_ = 0;
    bool running_ = false;
    bool finished_ = false;
};

} // namespace qm45
