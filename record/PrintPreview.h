#pragma once

#include "record/PreviewDocument.h"

#include <QWidget>

#include <cstdint>
#include <memory>

class QAction;
class QKeySequence;
class QLabel;
class QPrinter;
class QScrollArea;

namespace qm45 {

class Dialogs;
class PrinterDialogs;

// The "Print Preview" window: shows one page of a document at a time, zooms,
// pages, and prints through the platform's print dialog. Only the page on view
// is painted, when it is exposed; no page is kept, so opening and paging cost
// the same for a document of one page or of hundreds of thousands. Printing
// paints the chosen pages one after the other straight onto the printer.
class PrintPreview final : public QWidget {
    Q_OBJECT
public:
    enum class Zoom { WholePage, ActualSize, PageWidth };

    // Empty printerDialogs selects the platform's; empty dialogs shows no
    // message when printing fails.
    explicit PrintPreview(std::shared_ptr<const PreviewDocument> document,
                          std::shared_ptr<PrinterDialogs> printerDialogs = nullptr,
                          std::shared_ptr<Dialogs> dialogs = nullptr, QWidget* parent = nullptr);
    ~PrintPreview() override;

    [[nodiscard]] std::int64_t pageCount() const;
    // From 0.
    [[nodiscard]] std::int64_t currentPage() const { return page_; }
    [[nodiscard]] Zoom zoom() const { return zoom_; }
    // Screen pixels per millimetre of paper.
    [[nodiscard]] double scale() const { return scale_; }
    [[nodiscard]] bool isPrinting() const { return printing_; }

    void setZoom(Zoom zoom);
    // Pages outside the document go to its first or last page.
    void showPage(std::int64_t page);
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void printerSetup();
    void print();

signals:
    // The window was closed; it is deleted afterwards only when it was given
    // Qt::WA_DeleteOnClose.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class PageView;

    QPrinter& printer();
    bool printChosenPages(const std::shared_ptr<QPrinter>& printer);
    void updateLayout();
    void updateActions();
    QAction* makeAction(const QString& text, const char* name, const QKeySequence& key);

    std::shared_ptr<const PreviewDocument> document_;
    std::shared_ptr<PrinterDialogs> printerDialogs_;
    std::shared_ptr<Dialogs> dialogs_;
    std::shared_ptr<QPrinter> printer_; // made on first use: asking the print system takes time
    std::int64_t page_ = 0;
    Zoom zoom_ = Zoom::WholePage;
    double scale_ = 1.0;
    bool printing_ = false;
    bool cancelPrinting_ = false;
    bool closeWhenPrinted_ = false;

    QScrollArea* scroll_ = nullptr;
    PageView* view_ = nullptr;
    QLabel* pageLabel_ = nullptr;
    QAction* zoomWholePage_ = nullptr;
    QAction* zoomActualSize_ = nullptr;
    QAction* zoomPageWidth_ = nullptr;
    QAction* firstPage_ = nullptr;
    QAction* previousPage_ = nullptr;
    QAction* nextPage_ = nullptr;
    QAction* lastPage_ = nullptr;
    QAction* printerSetup_ = nullptr;
    QAction* print_ = nullptr;
    QAction* close_ = nullptr;
};

} // namespace qm45
