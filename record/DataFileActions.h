#pragma once

#include "record/DataFiles.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QProgressBar;
class QThread;
class QWidget;

namespace qm45 {

class DataFileProgress;
class Dialogs;
class ReadingsModel;

// The two data-file buttons of the main window: saveas ("Save data files")
// and OpenDataFiles ("Open old data files").
//
// The file is written or read on a worker thread so that the window stays
// alive: a save of millions of rows takes seconds, long enough for the serial
// port's buffer to overflow and for frames to be lost. Recording goes on
// meanwhile. A save writes the rows present when it began. A load puts its
// rows into the table on the main thread in one batch once the file is read,
// in the order the user would have seen had it taken no time: a text file's
// rows right after the rows there when the load began, an XML file's rows in
// place of those; rows recorded during the load follow in either case (after
// a Close Data during the load, only the rows recorded since). The grid's
// model is frozen from the start to the end, so the rows of a text load reach
// the grid as one insertion; a progress bar shows how far the work is once it
// has taken longer than a moment. One file at a time: a click while a file is
// being saved or read does nothing. Whatever the worker throws ends the job
// as a failed save or load, the table as it was.
//
// Main thread only. The model and the dialogs must outlive this object.
class DataFileActions : public QObject {
    Q_OBJECT
public:
    // `reportError` takes the failure of an XML save: the window's general
    // error report. The text names the file and the system's reason.
    // `window` owns the file dialogs.
    DataFileActions(ReadingsModel& model, Dialogs& dialogs, QWidget* window,
                    std::function<void(const QString&)> reportError, QObject* parent = nullptr);
    // A save under way is finished first, so that a file the user asked for is
    // complete; a load under way is stopped and dropped.
    ~DataFileActions() override;

    // Hidden while idle; shown when a save or load has run for a moment.
    void setProgressBar(QProgressBar* bar);

    // What the worker runs: saveDataFile and loadDataFile unless replaced
    // (tests hold or break the worker with their own). Called on the worker.
    struct FileWork {
        std::function<DataFileSaveResult(const ReadingsTable::Snapshot&, const QString&,
                                         DataFileProgress*)>
            save;
        std::function<DataFileLoadResult(const QString&, DataFileProgress*)> load;
    };
    void setFileWork(FileWork work);

    void saveasClick();
    void SpeedButton2Click();

    [[nodiscard]] bool busy() const { return thread_ != nullptr; }

signals:
    void busyChanged(bool busy);
    // A save or load has ended and its message, if any, has been answered.
    void finished();

private:
    struct Job;

    void start(std::shared_ptr<Job> job);
    void jobFinished();
    void applyLoad(Job& job);
    void showProgress();

    ReadingsModel& model_;
    Dialogs& dialogs_;
    QPointer<QWidget> window_;
    std::function<void(const QString&)> reportError_;
    QPointer<QProgressBar> progressBar_;
    QTimer progressTimer_;
    QElapsedTimer elapsed_;
    QThread* thread_ = nullptr;
    std::shared_ptr<Job> job_;
    FileWork work_;
    QString lastSaveFolder_;
    QString lastOpenedFile_;
};

} // namespace qm45
