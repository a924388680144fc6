#pragma once

#include "link/HidPlatform.h"
#include "link/SerialPlatform.h"
#include "link/SerialPortDirectory.h"
#include "protocol/MeterProtocol.h"
#include "record/ReadingsTable.h"
#include "record/Sample.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QFrame;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;

namespace qm45 {

class ChartPanel;
class ChartToolbar;
class DataFileActions;
class ClickablePanel;
class ConnectionControl;
class Dialogs;
class ErrorReport;
class GatedDialogs;
class JudgementPanel;
class LimitJudgement;
class LcdPanel;
class ModalGate;
class PrinterDialogs;
class ReadingsGrid;
class ReadingsModel;
class RecordClock;
class Recorder;
class RecorderControls;
class ReportActions;
class SteadyClock;
class SystemLocale;
class THidDeviceController;
class TrendChart;
class TSerialPortDriver;

// What the window needs from the machine. Empty members select the real thing;
// tests put fakes in.
struct TFCOMMServices {
    std::unique_ptr<SerialPlatform> serialPlatform;
    std::shared_ptr<SerialPortDirectory> serialPorts;
    std::shared_ptr<Dialogs> dialogs;
    std::shared_ptr<SystemLocale> locale;
    std::shared_ptr<HidPlatform> hidPlatform;
    std::shared_ptr<RecordClock> recordClock;
    std::shared_ptr<PrinterDialogs> printerDialogs;
    std::shared_ptr<SteadyClock> steadyClock;
};

// The main window and composition root: it owns every subsystem object and
// wires them together. The behaviour lives in those objects.
class TFCOMM final : public QMainWindow, private MeterProtocol::Listener {
    Q_OBJECT
public:
    explicit TFCOMM(TFCOMMServices services = {});
    ~TFCOMM() override;

    // Start-up values other subsystems read.
    [[nodiscard]] const QString& DecimalMark() const { return DecimalMark_; }
    [[nodiscard]] std::int32_t FullScale() const { return protocol_.context().FullScale; }
    [[nodiscard]] std::int32_t BarMax() const { return protocol_.context().BarMax; }
    [[nodiscard]] QString LastValidHigh() const;
    [[nodiscard]] QString LastValidLow() const;
    [[nodiscard]] std::int32_t RecordNo() const;
    [[nodiscard]] std::int32_t RecordLimit() const;

    [[nodiscard]] const MeterProtocol& protocol() const { return protocol_; }
    [[nodiscard]] const CurrentReading& currentReading() const { return protocol_.reading(); }
    // The last accepted frame's reading with its verdict, as it was recorded.
    [[nodiscard]] const Sample& lastSample() const { return sample_; }
    [[nodiscard]] TSerialPortDriver& COMM2() { return *COMM2_; }
    [[nodiscard]] ConnectionControl& connection() { return *connection_; }
    [[nodiscard]] ErrorReport& errorReport() { return *errorReport_; }
    // Keeps our modal boxes and dialogs from opening over one another.
    [[nodiscard]] ModalGate& modalGate() { return *modalGate_; }
    [[nodiscard]] ChartPanel& chart() { return *chartPanel_; }
    [[nodiscard]] Recorder& recorder() { return *recorder_; }
    [[nodiscard]] ReadingsModel& readings() { return *readingsModel_; }
    [[nodiscard]] DataFileActions& dataFiles() { return *dataFiles_; }
    [[nodiscard]] ReportActions& report() { return *report_; }

    // Where a decoded frame reaches the chart and the recorder.
    // Each is called only when set.
    std::function<void(int seriesIndex)> ShowSeries;
    std::function<void(const Sample& sample)> INDataToTable;

    void BitBtn1Click();
    void ConTimerTimer();

signals:
    // "Quit" was confirmed: the application should end its event loop.
    void terminateRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void wireRecording();
    void FormCreate();
    void LcdDisplay45A(const DecodeResult& result) override;

    TFCOMMServices services_;
    MeterProtocol protocol_{*this};
    Sample sample_; // the last accepted frame's, with its verdict
    std::unique_ptr<TSerialPortDriver> COMM2_;
    // Every subsystem gets its boxes through this one gate.
    ModalGate* modalGate_ = nullptr;
    std::shared_ptr<GatedDialogs> dialogs_;

    QString DecimalMark_;
    bool centred_ = false;

    // Controls, named as the user sees them referred to.
    QFrame* Panel6 = nullptr;
    std::array<ClickablePanel*, 4> BtCOM{};
    QPushButton* COMCon = nullptr;
    QPushButton* USBCon = nullptr;
    QPushButton* BitBtn1 = nullptr;
    LcdPanel* Panel1 = nullptr;
    QProgressBar* PBar2 = nullptr;
    JudgementPanel* Panel4 = nullptr;
    ChartToolbar* Panel19 = nullptr;
    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QToolButton* RecordNew = nullptr;
    QToolButton* OpenDataFiles = nullptr;
    QToolButton* saveas = nullptr;
    QToolButton* BtPrint = nullptr;
    QTableView* DBGrid1 = nullptr;
    TrendChart* Chtshow = nullptr;
    QProgressBar* fileProgress_ = nullptr;

    QTimer* ConTimer = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    std::unique_ptr<THidDeviceController> HidCtl_;
    std::unique_ptr<ConnectionControl> connection_;
    ErrorReport* errorReport_ = nullptr;
    LimitJudgement* limitJudgement_ = nullptr;
    ChartPanel* chartPanel_ = nullptr;

    // The table outlives its model, the model the recorder and everything
    // that reads either.
    ReadingsTable cds1;
    std::unique_ptr<ReadingsModel> readingsModel_;
    std::unique_ptr<Recorder> recorder_;
    ReadingsGrid* grid_ = nullptr;
    RecorderControls* recorderControls_ = nullptr;
    std::unique_ptr<DataFileActions> dataFiles_;
    std::unique_ptr<ReportActions> report_;
};

} // namespace qm45
