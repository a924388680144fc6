#pragma once

#include <memory>

class QPrinter;
class QWidget;

namespace qm45 {

// The platform's printer dialogs. Each call is modal and runs a nested event
// loop in the real implementation; tests answer in its place.
class PrinterDialogs {
public:
    virtual ~PrinterDialogs() = default;
    // Paper and printer settings. True when accepted.
    virtual bool setup(QWidget* parent, QPrinter& printer) = 0;
    // Printer, pages (1 to lastPage, or the page on view) and copies, written
    // into printer. True when the user chose to print.
    virtual bool print(QWidget* parent, QPrinter& printer, int lastPage) = 0;
    // Held while the chosen pages are printed (a progress dialog may show
    // meanwhile); empty when nothing needs to know.
    [[nodiscard]] virtual std::shared_ptr<void> holdWhilePrinting() { return nullptr; }
};

// The print dialog also offers printing to a PDF file, so that a machine
// without a printer (or without a print system) can still print the report.
class NativePrinterDialogs final : public PrinterDialogs {
public:
    bool setup(QWidget* parent, QPrinter& printer) override;
    bool print(QWidget* parent, QPrinter& printer, int lastPage) override;
};

} // namespace qm45
