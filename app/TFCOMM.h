#pragma once

#include "link/SerialPlatform.h"
#include "link/SerialPortDirectory.h"
#include "protocol/MeterProtocol.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QFrame;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;

namespace qm45 {

class ChartToolbar;
class ClickablePanel;
class ConnectionControl;
class Dialogs;
class ErrorReport;
class JudgementPanel;
class LimitJudgement;
class LcdPanel;
class SystemLocale;
class TSerialPortDriver;

// What the window needs from the machine. Empty members select the real thing;
// tests put fakes in.
struct TFCOMMServices {
    std::unique_ptr<SerialPlatform> serialPlatform;
    std::shared_ptr<SerialPortDirectory> serialPorts;
    std::shared_ptr<Dialogs> dialogs;
    std::shared_ptr<SystemLocale> locale;
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
    [[nodiscard]] std::int32_t RecordNo() const { return RecordNo_; }
    [[nodiscard]] std::int32_t RecordLimit() const { return RecordLimit_; }

    [[nodiscard]] const MeterProtocol& protocol() const { return protocol_; }
    [[nodiscard]] const CurrentReading& currentReading() const { return protocol_.reading(); }
    [[nodiscard]] TSerialPortDriver& COMM2() { return *COMM2_; }
    [[nodiscard]] ConnectionControl& connection() { return *connection_; }
    [[nodiscard]] ErrorReport& errorReport() { return *errorReport_; }

    // Where a decoded frame reaches the chart and the recorder.
    // Each is called only when set.
    std::function<void(int seriesIndex)> ShowSeries;
    std::function<void()> INDataToTable;

    void BitBtn1Click();
    void ConTimerTimer();

signals:
    // "Quit" was confirmed: the application should end its event loop.
    void terminateRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void buildMenu();
    void FormCreate();
    void LcdDisplay45A(const DecodeResult& result) override;

    TFCOMMServices services_;
    MeterProtocol protocol_{*this};
    std::unique_ptr<TSerialPortDriver> COMM2_;

    QString DecimalMark_;
    std::int32_t RecordNo_ = 1;
    std::int32_t RecordLimit_ = 10000;
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
    QFrame* Chtshow = nullptr;
    QActionGroup* recordLimits_ = nullptr;

    QTimer* ConTimer = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    std::unique_ptr<ConnectionControl> connection_;
    ErrorReport* errorReport_ = nullptr;
    LimitJudgement* limitJudgement_ = nullptr;
};

} // namespace qm45
