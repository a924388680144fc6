#include "app/TFCOMM.h"

#include "app/Application.h"
#include "app/ErrorReport.h"
#include "app/SteadyClock.h"
#include "record/SystemLocale.h"
#include "link/ConnectionControl.h"
#include "link/HidDeviceController.h"
#include "link/SerialPortDriver.h"
#include "record/DataFileActions.h"
#include "record/Fonts.h"
#include "record/GatedPrinterDialogs.h"
#include "record/PrintPreview.h"
#include "record/PrinterDialogs.h"
#include "record/ReadingsGrid.h"
#include "record/ReadingsModel.h"
#include "record/ReadingsView.h"
#include "record/RecordClock.h"
#include "record/Recorder.h"
#include "record/RecorderControls.h"
#include "record/ReportActions.h"
#include "view/ChartPanel.h"
#include "view/ChartToolbar.h"
#include "view/ClickablePanel.h"
#include "view/Dialogs.h"
#include "view/GatedDialogs.h"
#include "view/JudgementPanel.h"
#include "view/LcdPanel.h"
#include "view/LimitJudgement.h"
#include "view/ModalGate.h"
#include "view/TrendChart.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <exception>

namespace qm45 {

namespace {
const QString kProductName = QStringLiteral("QM45C/D/E");
const QString kVersion = QStringLiteral("3.00");

QToolButton* smallButton(QWidget* parent, const char* name, const QString& hint,
                         QStyle::StandardPixmap icon, int left, int top) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setIconSize(QSize(14, 14));
    b->setAutoRaise(true);
    b->setGeometry(left, top, 22, 21);
    return b;
}

QTimer* windowTimer(QObject* parent, const char* name, int interval, bool singleShot) {
    auto* t = new QTimer(parent);
    t->setObjectName(QLatin1String(name));
    t->setInterval(interval);
    t->setSingleShot(singleShot);
    return t;
}
} // namespace

TFCOMM::TFCOMM(TFCOMMServices services) : services_(std::move(services)) {
    if (!services_.dialogs)
        services_.dialogs = std::make_shared<MessageBoxDialogs>();
    if (!services_.locale)
        services_.locale = std::make_shared<LinuxSystemLocale>();
    if (!services_.recordClock)
        services_.recordClock = std::make_shared<SystemRecordClock>();
    if (!services_.printerDialogs)
        services_.printerDialogs = std::make_shared<NativePrinterDialogs>();
    if (!services_.steadyClock)
        services_.steadyClock = std::make_shared<SystemSteadyClock>();
    modalGate_ = new ModalGate(this);
    dialogs_ = std::make_shared<GatedDialogs>(*modalGate_, services_.dialogs);

    COMM2_ = std::make_unique<TSerialPortDriver>(nullptr, std::move(services_.serialPlatform),
                                                 services_.serialPorts);
    COMM2_->setComPort(pnCOM1);
    COMM2_->setComPortSpeed(br2400);

    setObjectName(QStringLiteral("FCOMM"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(Fonts::window());
    buildLayout();
    errorReport_ = new ErrorReport(*dialogs_, *services_.steadyClock, this);
    // An exception that escapes a handler of this window is reported here.
    setUncaughtErrorHandler([report = QPointer<ErrorReport>(errorReport_)](const QString& text) {
        if (report)
            report->report(text);
    });

    ConnectionControl::Controls controls;
    controls.BtCOM = BtCOM;
    controls.COMCon = COMCon;
    controls.USBCon = USBCon;
    controls.CONok = Panel4->CONok;
    controls.CONokN = Panel4->CONokN;
    connection_ = std::make_unique<ConnectionControl>(controls, *COMM2_, nullptr, dialogs_.get());

    // The controller lists the system's HID devices at once; attaching the USB
    // half reports them and builds the device list, before FormCreate.
    HidCtl_ = std::make_unique<THidDeviceController>(services_.hidPlatform);
    // An exception from the USB frame handler ends that report only.
    HidCtl_->setOnHandlerFailure([this](THidDevice*, std::exception_ptr error) {
        errorReport_->report(describeException(error));
    });
    ConnectionControl::UsbHooks usb;
    usb.HidData45A = [this](std::uint8_t reportId, const std::uint8_t* bytes, std::uint16_t count) {
        protocol_.HidData45A(reportId, bytes, count);
    };
    usb.UsbIdleCount = [this] { return protocol_.frames().usbIdleCount(); };
    usb.setUsbIdleCount = [this](std::int32_t count) { protocol_.frames().setUsbIdleCount(count); };
    connection_->attachUsb(*HidCtl_, *dialogs_, std::move(usb));

    ConTimer = windowTimer(this, "ConTimer", 100, false);
    Timer1 = windowTimer(this, "Timer1", 1000, false);
    Timer2 = windowTimer(this, "Timer2", 2000, true);
    connect(ConTimer, &QTimer::timeout, this, guarded([this] { ConTimerTimer(); }));
    connect(BitBtn1, &QPushButton::clicked, this, guarded([this] { BitBtn1Click(); }));

    chartPanel_ = new ChartPanel(
        ChartPanel::Widgets{Chtshow, Panel19, Panel4, Panel6, this, Timer2}, *dialogs_, this);
    ShowSeries = [this](int index) { chartPanel_->ShowSeries(index); };

    FormCreate();
    ConTimer->start();

    // The client area is fixed; the menu bar sits above it.
    adjustSize();
    setFixedSize(sizeHint());
}

TFCOMM::~TFCOMM() {
    setUncaughtErrorHandler(nullptr);
    // A save under way finishes writing before the table goes.
    dataFiles_.reset();
    report_.reset();
    // The connection control stops the USB reader and hands the devices back
    // before the controller goes; the driver closes its port. Their handlers
    // point into this window.
    connection_.reset();
    HidCtl_.reset();
    COMM2_.reset();
}

void TFCOMM::FormCreate() {
    DecimalMark_ = services_.locale->decimalMark();
    // Holds the last valid limit texts, "4000" and "-4000" to begin with.
    limitJudgement_ = new LimitJudgement(*Panel4, DecimalMark_, this);
    protocol_.context().DecimalMark = DecimalMark_.toStdString();
    protocol_.context().FullScale = 40000;
    protocol_.context().BarMax = 40;
    wireRecording();
    COMM2_->setOnReceiveData(
        guarded([this](TSerialPortDriver*, const std::uint8_t* bytes, std::int32_t count) {
            protocol_.H45ARData(bytes, count);
        }));
    setWindowTitle(QStringLiteral("%1 Interface Program Ver: %2").arg(kProductName, kVersion));
    Chtshow->setLeftAxisRange(-FullScale(), FullScale());
}

void TFCOMM::wireRecording() {
    readingsModel_ = std::make_unique<ReadingsModel>(cds1);
    grid_ = new ReadingsGrid(DBGrid1, *readingsModel_, this);

    Recorder::Chart chart;
    chart.addValue = [this](double value) { return chartPanel_->ChartControl().AddValue(value); };
    chart.clearChart = [this] { return chartPanel_->ChartControl().ClearChart(); };
    chart.showPage = [this](int page) { Panel19->Bt10->setText(QString::number(page)); };
    recorder_ =
        std::make_unique<Recorder>(*readingsModel_, *services_.recordClock, std::move(chart));
    INDataToTable = [this](const Sample& sample) { recorder_->INDataToTable(sample); };

    recorderControls_ = new RecorderControls({RepeatSet, RecordSI, RecordSITime, Timer1, RecordNew},
                                             *recorder_, *dialogs_, this, this);
    recorderControls_->populateRecordMenu(menuBar()->addMenu(QStringLiteral("Record")));

    dataFiles_ = std::make_unique<DataFileActions>(
        *readingsModel_, *dialogs_, this,
        [this](const QString& text) { errorReport_->report(text); });
    dataFiles_->setProgressBar(fileProgress_);
    connect(saveas, &QToolButton::clicked, dataFiles_.get(),
            guarded([this] { dataFiles_->saveasClick(); }));
    connect(OpenDataFiles, &QToolButton::clicked, dataFiles_.get(),
            guarded([this] { dataFiles_->SpeedButton2Click(); }));

    report_ = std::make_unique<ReportActions>(
        cds1, this,
        ReportActions::GridHooks{[this] { readingsModel_->freeze(); },
                                 [this] { readingsModel_->thaw(); }},
        dialogs_, std::make_shared<GatedPrinterDialogs>(*modalGate_, services_.printerDialogs));
    connect(BtPrint, &QToolButton::clicked, report_.get(),
            guarded([this] { report_->BtPrintClick(); }));
}

std::int32_t TFCOMM::RecordNo() const {
    return recorder_->RecordNo();
}
std::int32_t TFCOMM::RecordLimit() const {
    return recorder_->RecordLimit();
}

void TFCOMM::buildLayout() {
    auto* client = new QWidget(this);
    client->setFixedSize(716, 474);
    setCentralWidget(client);

    Panel6 = new QFrame(client);
    Panel6->setObjectName(QStringLiteral("Panel6"));
    Panel6->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel6->setGeometry(0, 0, 716, 30);

    // Stacking order, bottom to top: COM 2, COM 1, COM 3, COM 4. When several are
    // visible the top one is what the user sees and clicks.
    const struct {
        int index;
        int top;
    } stack[] = {{1, 5}, {0, 3}, {2, 4}, {3, 4}};
    for (const auto& entry : stack) {
        auto* panel = new ClickablePanel(QStringLiteral("COM %1").arg(entry.index + 1), Panel6);
        panel->setObjectName(QStringLiteral("BtCOM%1").arg(entry.index + 1));
        panel->setGeometry(3, entry.top, 61, 24);
        panel->setVisible(entry.index == 0);
        BtCOM[entry.index] = panel;
    }

    COMCon = new QPushButton(QStringLiteral("COM Connect"), Panel6);
    COMCon->setObjectName(QStringLiteral("COMCon"));
    COMCon->setCheckable(true);
    COMCon->setGeometry(65, 2, 147, 25);
    USBCon = new QPushButton(QStringLiteral("USB Connect"), Panel6);
    USBCon->setObjectName(QStringLiteral("USBCon"));
    USBCon->setCheckable(true);
    USBCon->setGeometry(218, 2, 117, 25);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                              QStringLiteral("Quit"), Panel6);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(641, 1, 74, 25);

    Panel1 = new LcdPanel(client);
    Panel1->setGeometry(4, 29, 334, 136);

    PBar2 = new QProgressBar(client);
    PBar2->setObjectName(QStringLiteral("PBar2"));
    PBar2->setGeometry(3, 167, 334, 17);
    PBar2->setRange(0, 40);
    PBar2->setValue(20);
    PBar2->setTextVisible(false);

    Panel4 = new JudgementPanel(client);
    Panel4->setGeometry(338, 29, 375, 120);

    Chtshow = new TrendChart(client);
    Chtshow->setObjectName(QStringLiteral("Chtshow"));
    Chtshow->setGeometry(336, 187, 377, 286);

    // The tool bar stays in front of the chart, also when the chart is enlarged.
    Panel19 = new ChartToolbar(client);
    Panel19->setGeometry(339, 152, 372, 33);

    RepeatSet = new QCheckBox(QStringLiteral("Repeat"), client);
    RepeatSet->setObjectName(QStringLiteral("RepeatSet"));
    RepeatSet->setChecked(true);
    RepeatSet->setGeometry(2, 187, 63, 20);

    // The caption's run of blanks leaves room for the period edit, which lies on
    // top of it, so that the unit "'S" reads after the number.
    RecordSI = new QCheckBox(QStringLiteral("Sampling Interval           'S"), client);
    RecordSI->setObjectName(QStringLiteral("RecordSI"));
    RecordSI->setGeometry(64, 187, 182, 20);
    RecordSITime = new QLineEdit(QStringLiteral("1"), client);
    RecordSITime->setObjectName(QStringLiteral("RecordSITime"));
    RecordSITime->setGeometry(183, 187, 25, 20);
    RecordSITime->raise();

    RecordNew = smallButton(client, "RecordNew", QStringLiteral("Close Data"), QStyle::SP_TrashIcon,
                            247, 187);
    OpenDataFiles = smallButton(client, "OpenDataFiles", QStringLiteral("Open old data files"),
                                QStyle::SP_DialogOpenButton, 269, 187);
    saveas = smallButton(client, "saveas", QStringLiteral("Save data files"),
                         QStyle::SP_DialogSaveButton, 291, 187);
    BtPrint = smallButton(client, "BtPrint", QStringLiteral("Print"),
                          QStyle::SP_FileDialogDetailedView, 313, 187);

    DBGrid1 = new ReadingsView(client);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(1, 208, 334, 264);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // Shown over the grid's foot only while a large file is saved or read.
    fileProgress_ = new QProgressBar(client);
    fileProgress_->setObjectName(QStringLiteral("fileProgress"));
    fileProgress_->setGeometry(4, 452, 328, 17);
    fileProgress_->hide();
}

void TFCOMM::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFCOMM::BitBtn1Click() {
    if (dialogs_->question(
            this, QStringLiteral("Are you sure that you want to quit this application?")) !=
        Dialogs::Answer::Yes)
        return;
    emit terminateRequested();
}

QString TFCOMM::LastValidHigh() const {
    return limitJudgement_->LastValidHigh();
}
QString TFCOMM::LastValidLow() const {
    return limitJudgement_->LastValidLow();
}

void TFCOMM::ConTimerTimer() {
    connection_->ConTimerTimer();
}

void TFCOMM::LcdDisplay45A(const DecodeResult& result) {
    connection_->frameDecoded();
    Panel1->apply(result.after.lcd);
    if (!result.accepted()) {
        errorReport_->report(QString::fromStdString(result.error));
        return;
    }
    errorReport_->frameAccepted();
    if (result.scaleChanged && ShowSeries)
        ShowSeries(Panel19->BtFill->isChecked() ? 0 : 1);

    const QString value = QString::fromStdString(result.after.reading.ValueText);
    if (Panel4->T1VALUE->text() != value)
        Panel4->T1VALUE->setText(value);
    // The frame's own value is judged, never what the user may have typed into the box.
    // Without a verdict (a limit left empty) the previous one stands.
    std::string verdict = sample_.JudgeText;
    if (const std::optional<QString> judgeText = limitJudgement_->judge(value))
        verdict = judgeText->toStdString();
    sample_ = Sample{result.after.reading, std::move(verdict)};
    // Timed sampling records only readings that are live.
    recorder_->frameDecoded(sample_);
    if (!RecordSI->isChecked() && INDataToTable)
        INDataToTable(sample_);
    PBar2->setValue(qBound(PBar2->minimum(), result.barPosition, PBar2->maximum()));
}

} // namespace qm45
