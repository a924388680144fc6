#include "record/GatedPrinterDialogs.h"

#include <utility>

namespace qm45 {

GatedPrinterDialogs::GatedPrinterDialogs(ModalGate& gate, std::shared_ptr<PrinterDialogs> inner)
    : gate_(gate), inner_(std::move(inner)) {}

bool GatedPrinterDialogs::setup(QWidget* parent, QPrinter& printer) {
    const ModalGate::Hold held = gate_.hold();
    return inner_->setup(parent, printer);
}

bool GatedPrinterDialogs::print(QWidget* parent, QPrinter& printer, int lastPage) {
    const ModalGate::Hold held = gate_.hold();
    return inner_->print(parent, printer, lastPage);
}

std::shared_ptr<void> GatedPrinterDialogs::holdWhilePrinting() {
    return std::make_shared<ModalGate::Hold>(gate_.hold());
}

} // namespace qm45
