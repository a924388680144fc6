#pragma once

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
};

class NativePrinterDialogs final : public PrinterDialogs {
public:
    bool setup(QWidget* parent, QPrinter& printer) override;
    bool print(QWidget* parent, QPrinter& printer, int lastPage) override;
};

} // namespace qm45
