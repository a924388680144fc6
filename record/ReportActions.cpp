#include "record/ReportActions.h"

#include "record/PreviewDocument.h"
#include "record/PrintPreview.h"
#include "record/ReportPainter.h"

#include <utility>

namespace qm45 {

namespace {

class ReportDocument final : public PreviewDocument {
public:
    explicit ReportDocument(ReadingsTable::Snapshot rows) : report_(std::move(rows)) {}

    std::int64_t pageCount() const override { return report_.pageCount(); }
    QSizeF pageSizeMm() const override { return ReportPainter::pageSizeMm(); }
    void paintPage(QPainter& painter, std::int64_t page) const override {
        report_.paintPage(painter, page);
    }

private:
    ReportPainter report_;
};

} // namespace

ReportActions::ReportActions(const ReadingsTable& table, QWidget* window, GridHooks grid,
                             std::shared_ptr<Dialogs> dialogs,
                             std::shared_ptr<PrinterDialogs> printerDialogs)
    : table_(table), window_(window), grid_(std::move(grid)), dialogs_(std::move(dialogs)),
      printerDialogs_(std::move(printerDialogs)) {}

ReportActions::~ReportActions() {
    // The grid may already be gone: no thaw from here.
    if (preview_) {
        preview_->disconnect(this);
        delete preview_.data();
    }
}

void ReportActions::BtPrintClick() {
    if (open_)
        return;
    open_ = true;
    if (grid_.freeze)
        grid_.freeze();
    auto document = std::make_shared<const ReportDocument>(table_.snapshot());
    preview_ = new PrintPreview(std::move(document), printerDialogs_, dialogs_, window_);
    preview_->setAttribute(Qt::WA_DeleteOnClose);
    connect(preview_, &PrintPreview::closed, this, &ReportActions::previewGone);
    connect(preview_, &QObject::destroyed, this, &ReportActions::previewGone);
    preview_->show();
    preview_->raise();
    preview_->activateWindow();
}

void ReportActions::previewGone() {
    if (!open_)
        return;
    open_ = false;
    preview_ = nullptr;
    if (grid_.thaw)
        grid_.thaw();
}

} // namespace qm45
