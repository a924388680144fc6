#pragma once

#include "record/ReadingsTable.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;

namespace qm45 {

class Dialogs;
class PrintPreview;
class PrinterDialogs;

// The Print button: the readings report in its preview window. The preview
// works on a snapshot of the table taken as it opens, so the recorder goes on
// appending meanwhile without a row printed twice or the report cut short;
// the grid stays frozen until the preview is closed. Main thread only.
class ReportActions final : public QObject {
    Q_OBJECT
public:
    struct GridHooks {
        std::function<void()> freeze; // the grid stops following the table
        std::function<void()> thaw;   // and follows it again
    };

    // window: the preview's parent, so it closes with the window. Empty
    // dialogs shows no message when printing fails; empty printerDialogs
    // selects the platform's.
    ReportActions(const ReadingsTable& table, QWidget* window, GridHooks grid,
                  std::shared_ptr<Dialogs> dialogs = nullptr,
                  std::shared_ptr<PrinterDialogs> printerDialogs = nullptr);
    ~ReportActions() override;

    // Freezes the grid and opens the preview over the rows present now, then
    // returns; the grid thaws when the preview closes. Does nothing while a
    // preview is open.
    void BtPrintClick();

    // The open preview; null when none is open.
    [[nodiscard]] PrintPreview* preview() const { return preview_; }

private:
    void previewGone();

    const ReadingsTable& table_;
    QPointer<QWidget> window_;
    GridHooks grid_;
    std::shared_ptr<Dialogs> dialogs_;
    std::shared_ptr<PrinterDialogs> printerDialogs_;
    QPointer<PrintPreview> preview_;
    bool open_ = false;
};

} // namespace qm45
