#include "view/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>

namespace qm45 {

namespace {
// Unless a title is given the boxes carry none: they show the message alone.
QMessageBox::StandardButton run(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton,
                                const QString& title = QString()) {
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    box.setTextFormat(Qt::PlainText);
    return QMessageBox::StandardButton(box.exec());
}
} // namespace

Dialogs::Answer MessageBoxDialogs::question(QWidget* parent, const QString& text) {
    return run(parent, QMessageBox::Information, text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes) == QMessageBox::Yes
               ? Answer::Yes
               : Answer::No;
}

void MessageBoxDialogs::information(QWidget* parent, const QString& text) {
    run(parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBoxDialogs::error(QWidget* parent, const QString& text, const QString& title) {
    run(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok, title);
}

namespace {
Dialogs::FileChoice runFileDialog(QWidget* parent, const Dialogs::FileRequest& request,
                                  QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, request.caption);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (!request.directory.isEmpty())
        dialog.setDirectory(request.directory);
    if (!request.initialPath.isEmpty())
        dialog.selectFile(request.initialPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return {dialog.selectedFiles().first(),
            std::max(0, int(request.filters.indexOf(dialog.selectedNameFilter())))};
}
} // namespace

Dialogs::FileChoice MessageBoxDialogs::saveFile(QWidget* parent, const FileRequest& request) {
    return runFileDialog(parent, request, QFileDialog::AcceptSave);
}

Dialogs::FileChoice MessageBoxDialogs::openFile(QWidget* parent, const FileRequest& request) {
    return runFileDialog(parent, request, QFileDialog::AcceptOpen);
}

} // namespace qm45
