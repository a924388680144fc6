#include "view/GatedDialogs.h"

#include <QPointer>
#include <QWidget>

#include <utility>

namespace qm45 {

GatedDialogs::GatedDialogs(ModalGate& gate, std::shared_ptr<Dialogs> inner)
    : gate_(gate), inner_(std::move(inner)) {}

Dialogs::Answer GatedDialogs::question(QWidget* parent, const QString& text) {
    const ModalGate::Hold held = gate_.hold();
    return inner_->question(parent, text);
}

void GatedDialogs::information(QWidget* parent, const QString& text) {
    // A parent gone by the time the box opens leaves it without one.
    post([parent = QPointer<QWidget>(parent), text](Dialogs& inner) {
        inner.information(parent, text);
    });
}

void GatedDialogs::error(QWidget* parent, const QString& text, const QString& title) {
    post([parent = QPointer<QWidget>(parent), text, title](Dialogs& inner) {
        inner.error(parent, text, title);
    });
}

Dialogs::FileChoice GatedDialogs::saveFile(QWidget* parent, const FileRequest& request) {
    const ModalGate::Hold held = gate_.hold();
    return inner_->saveFile(parent, request);
}

Dialogs::FileChoice GatedDialogs::openFile(QWidget* parent, const FileRequest& request) {
    const ModalGate::Hold held = gate_.hold();
    return inner_->openFile(parent, request);
}

void GatedDialogs::post(std::function<void(Dialogs& inner)> show) {
    // The inner dialogs are kept alive by the notice itself.
    gate_.post([inner = inner_, show = std::move(show)] { show(*inner); });
}

} // namespace qm45
