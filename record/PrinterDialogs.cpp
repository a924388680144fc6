#include "record/PrinterDialogs.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace qm45 {

bool NativePrinterDialogs::setup(QWidget* parent, QPrinter& printer) {
    QPageSetupDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool NativePrinterDialogs::print(QWidget* parent, QPrinter& printer, int lastPage) {
    // Every print starts from all pages and one copy, whatever was chosen last.
    printer.setPrintRange(QPrinter::AllPages);
    printer.setCopyCount(1);
    QPrintDialog dialog(&printer, parent);
    dialog.setOptions(QAbstractPrintDialog::PrintPageRange |
                      QAbstractPrintDialog::PrintCollateCopies |
                      QAbstractPrintDialog::PrintCurrentPage |
                      QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintToFile);
    dialog.setMinMax(1, lastPage);
    dialog.setFromTo(1, lastPage);
    dialog.setPrintRange(QAbstractPrintDialog::AllPages);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace qm45
