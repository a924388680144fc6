#include "view/ModalGate.h"

#include <QMetaObject>

#include <utility>

namespace qm45 {

ModalGate::ModalGate(QObject* parent) : QObject(parent) {}

ModalGate::~ModalGate() = default;

ModalGate::Hold::Hold(ModalGate* gate) : gate_(gate) {
    if (gate_)
        ++gate_->open_;
}

ModalGate::Hold::Hold(Hold&& other) noexcept : gate_(std::move(other.gate_)) {
    other.gate_ = nullptr;
}

ModalGate::Hold& ModalGate::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        release();
        gate_ = std::move(other.gate_);
        other.gate_ = nullptr;
    }
    return *this;
}

ModalGate::Hold::~Hold() {
    release();
}

void ModalGate::Hold::release() {
    if (ModalGate* gate = gate_.data()) {
        gate_ = nullptr;
        gate->closed();
    }
}

void ModalGate::post(std::function<void()> show) {
    queue_.push_back(std::move(show));
    schedule();
}

void ModalGate::closed() {
    --open_;
    schedule();
}

// Always through the event queue: the caller's stack unwinds first.
void ModalGate::schedule() {
    if (scheduled_ || open_ > 0 || queue_.empty())
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, &ModalGate::showNext, Qt::QueuedConnection);
}

void ModalGate::showNext() {
    scheduled_ = false;
    if (open_ > 0 || queue_.empty())
        return;
    std::function<void()> show = std::move(queue_.front());
    queue_.pop_front();
    const Hold held = hold();
    show();
}

} // namespace qm45
