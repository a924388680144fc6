#include "view/Dialogs.h"

#include <QMessageBox>

namespace qm45 {

namespace {
// The boxes carry no title of their own, like every other text of the program
// they show the message alone.
QMessageBox::StandardButton run(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QString(), text, buttons, parent);
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

void MessageBoxDialogs::error(QWidget* parent, const QString& text) {
    run(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace qm45
