#include "record/DataFileActions.h"

#include "record/DataFileProgress.h"
#include "record/DataFiles.h"
#include "record/ReadingsModel.h"
#include "view/Dialogs.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QThread>

#include <exception>
#include <new>

namespace qm45 {

namespace {

const QStringList kFilters = {QStringLiteral("Excel File(*.xls)"),
                              QStringLiteral("Txt File(*.txt)")};

// A save or load that ends sooner goes by without the bar flashing up.
constexpr int kProgressDelayMs = 300;
constexpr int kProgressPeriodMs = 100;

QString failureText(const QString& fileName, const QString& reason) {
    return QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, reason);
}

} // namespace

// Written by the worker thread until it finishes, read by the main thread
// after QThread::finished; `progress` is shared meanwhile.
struct DataFileActions::Job {
    bool save = false;
    QString fileName;
    ReadingsTable::Snapshot rows;
    // Where the table stood when a load began.
    ReadingsTable::Mark start;
    DataFileProgress progress;
    DataFileSaveResult saved;
    DataFileLoadResult loaded;
};

DataFileActions::DataFileActions(ReadingsModel& model, Dialogs& dialogs, QWidget* window,
                                 std::function<void(const QString&)> reportError, QObject* parent)
    : QObject(parent), model_(model), dialogs_(dialogs), window_(window),
      reportError_(std::move(reportError)) {
    setFileWork({});
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

void DataFileActions::setFileWork(FileWork work) {
    if (!work.save)
        work.save = [](const ReadingsTable::Snapshot& rows, const QString& fileName,
                       DataFileProgress* progress) {
            return saveDataFile(rows, fileName, progress);
        };
    if (!work.load)
        work.load = [](const QString& fileName, DataFileProgress* progress) {
            return loadDataFile(fileName, progress);
        };
    work_ = std::move(work);
}

void DataFileActions::saveasClick() {
    if (busy())
        return;
    // In the last folder, with the name field empty.
    Dialogs::FileRequest request;
    request.caption = QStringLiteral("Save As");
    request.filters = kFilters;
    request.defaultSuffix = QStringLiteral("xls");
    request.directory = lastSaveFolder_;
    const Dialogs::FileChoice choice = dialogs_.saveFile(window_, request);
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
    Dialogs::FileRequest request;
    request.caption = QStringLiteral("Open");
    request.filters = kFilters;
    request.initialPath = lastOpenedFile_;
    const Dialogs::FileChoice choice = dialogs_.openFile(window_, request);
    if (choice.path.isEmpty() || busy())
        return;
    lastOpenedFile_ = choice.path;
    auto job = std::make_shared<Job>();
    job->fileName = choice.path;
    model_.freeze();
    job->start = model_.table().mark();
    start(std::move(job));
}

void DataFileActions::start(std::shared_ptr<Job> job) {
    job_ = job;
    thread_ = QThread::create([job, work = work_] {
        // Nothing may escape the thread: it would end the program.
        QString reason;
        try {
            if (job->save)
                job->saved = work.save(job->rows, job->fileName, &job->progress);
            else
                job->loaded = work.load(job->fileName, &job->progress);
            return;
        } catch (const std::bad_alloc&) {
            reason = QStringLiteral("Out of memory.");
        } catch (const std::exception& e) {
            reason = QString::fromLocal8Bit(e.what());
        } catch (...) {
            reason = QStringLiteral("Unexpected error.");
        }
        if (job->save) {
            job->saved = DataFileSaveResult();
            job->saved.error = failureText(job->fileName, reason);
        } else {
            job->loaded = DataFileLoadResult();
        }
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
        bool applied = true;
        try {
            applyLoad(*job);
        } catch (...) {
            // The table is rebuilt beside itself, so it is as it was.
            applied = false;
        }
        // Not held while a message box below waits for the user.
        job->loaded.rows = LoadedRows();
        model_.thaw();
        emit busyChanged(false);
        if (!applied || !job->loaded.loaded())
            dialogs_.error(nullptr, QStringLiteral("Failed to Load File!"),
                           QStringLiteral("Error"));
    }
    emit finished();
}

void DataFileActions::applyLoad(Job& job) {
    const LoadedRows& rows = job.loaded.rows;
    if (!job.loaded.keepsRows() || (!job.loaded.replacesTable() && rows.rowCount() == 0))
        return;
    // Rows recorded while the file was read stay, after the file's rows.
    const std::int64_t since = model_.table().rowAfter(job.start);
    const std::int64_t before = job.loaded.replacesTable() ? 0 : since;
    model_.rebuild(before, since, [&rows](ReadingsTable& table) { rows.appendTo(table); });
}

} // namespace qm45
