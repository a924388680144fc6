#pragma once

#include "record/PrinterDialogs.h"
#include "view/ModalGate.h"

#include <memory>

namespace qm45 {

// The printer dialogs, holding the same gate while they are open and while
// the chosen pages are printed.
class GatedPrinterDialogs final : public PrinterDialogs {
public:
    GatedPrinterDialogs(ModalGate& gate, std::shared_ptr<PrinterDialogs> inner);

    bool setup(QWidget* parent, QPrinter& printer) override;
    bool print(QWidget* parent, QPrinter& printer, int lastPage) override;
    [[nodiscard]] std::shared_ptr<void> holdWhilePrinting() override;

private:
    ModalGate& gate_;
    std::shared_ptr<PrinterDialogs> inner_;
};

} // namespace qm45
