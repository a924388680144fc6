#include "record/DataFileActions.h"

#include "record/DataFileProgress.h"
#include "record/DataFiles.h"
#include "record/ReadingsModel.h"
#include "view/Dialogs.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QThread>

namespace qm45 {

namespace {

const QStringList kFilters = {QStringLiteral("Excel File(*.xls)"),
                              QStringLiteral("Txt File(*.txt)")};

// A save or load that ends sooner goes by without the bar flashing up.
constexpr int kProgressDelayMs = 300;
constexpr int kProgressPeriodMs = 100;

} // namespace

// Written by the worker thread until it finishes, read by the main thread
// after QThread::finished; `progress` is shared meanwhile.
struct DataFileActions::Job {
    bool save = false;
    QString fileName;
    ReadingsTable::Snapshot rows;
    DataFileProgress progress;
    DataFileSaveResult saved;
    DataFileLoadResult loaded;
};

DataFileActions::DataFileActions(ReadingsModel& model, Dialogs& dialogs, QWidget* window,
                                 std::function<void(const QString&)> reportError, QObject* parent)
    : QObject(parent), model_(model), dialogs_(dialogs), window_(window),
      reportError_(std::move(reportError)) {
    progressTimer_.setInterval(kProgressPeriodMs);
    connect(&progressTimer_, &QTimer::timeout, this, &DataFileActions::showProgress);
}

DataFileActions::~DataFileActions() {
    if (!thread_)
        return;
    disconnect(thread_, nullptr, this, nullptr);
    if (!job_->save)
        job_->progress.requestStop();
    thread_->wait();
    delete thread_;
}

void DataFileActions::setProgressBar(QProgressBar* bar) {
    progressBar_ = bar;
    if (bar) {
        bar->setRange(0, DataFileProgress::kScale);
        bar->setVisible(busy() && elapsed_.elapsed() >= kProgressDelayMs);
    }
}

void DataFileActions::saveasClick() {
    if (busy())
        return;
    const Dialogs::FileChoice choice = dialogs_.saveFile(
        window_, {QStringLiteral("Save As"), kFilters, QStringLiteral("xls"), lastSaveFolder_});
    if (choice.path.isEmpty() || busy())
        return;
    lastSaveFolder_ = QFileInfo(choice.path).absolutePath();
    auto job = std::make_shared<Job>();
    job->save = true;
    job->fileName = choice.path;
    model_.freeze();
    job->rows = model_.table().snapshot();
    start(std::move(job));
}

void DataFileActions::SpeedButton2Click() {
    if (busy())
        return;
    const Dialogs::FileChoice choice =
        dialogs_.openFile(window_, {QStringLiteral("Open"), kFilters, QString(), lastOpenedFile_});
    if (choice.path.isEmpty() || busy())
        return;
    lastOpenedFile_ = choice.path;
    auto job = std::make_shared<Job>();
    job->fileName = choice.path;
    model_.freeze();
    start(std::move(job));
}

void DataFileActions::start(std::shared_ptr<Job> job) {
    job_ = job;
    thread_ = QThread::create([job] {
        if (job->save)
            job->saved = saveDataFile(job->rows, job->fileName, &job->progress);
        else
            job->loaded = loadDataFile(job->fileName, &job->progress);
    });
    connect(thread_, &QThread::finished, this, &DataFileActions::jobFinished);
    elapsed_.start();
    progressTimer_.start();
    thread_->start();
    emit busyChanged(true);
}

void DataFileActions::showProgress() {
    if (!progressBar_ || !job_ || elapsed_.elapsed() < kProgressDelayMs)
        return;
    progressBar_->setValue(job_->progress.scaled());
    progressBar_->setVisible(true);
}

void DataFileActions::jobFinished() {
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    const std::shared_ptr<Job> job = std::move(job_);
    progressTimer_.stop();
    if (progressBar_)
        progressBar_->setVisible(false);

    if (job->save) {
        // The snapshot would keep the table's old storage alive.
        job->rows = ReadingsTable::Snapshot();
        model_.thaw();
        emit busyChanged(false);
        // The boxes have no owner window, as the program always had them.
        if (dataFileFormat(job->fileName) == DataFileFormat::Xml) {
            if (!job->saved.saved() && reportError_)
                reportError_(job->saved.error);
        } else if (job->saved.saved()) {
            dialogs_.information(nullptr, QStringLiteral("save table to specified file: ") +
                                              job->fileName + QStringLiteral(" Scuss!"));
        } else {
            dialogs_.error(nullptr, QStringLiteral("Could not save table to specified file: ") +
                                        job->fileName);
        }
    } else {
        // Clearing through the model resets the views at once, frozen or not.
        if (job->loaded.replacesTable())
            model_.clear();
        if (job->loaded.keepsRows())
            job->loaded.rows.appendTo(model_.table());
        // Not held while a message box below waits for the user.
        job->loaded.rows = LoadedRows();
        model_.thaw();
        emit busyChanged(false);
        if (!job->loaded.loaded())
            dialogs_.error(nullptr, QStringLiteral("Failed to Load File!"), QStringLiteral("Error"));
    }
    emit finished();
}

} // namespace qm45
