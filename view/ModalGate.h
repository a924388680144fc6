#pragma once

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>

namespace qm45 {

// Keeps the program's own modal boxes and dialogs from opening on top of one
// another. Whoever opens one holds the gate while it is open. A notice (a
// box that only tells the user something) is posted instead of shown: it
// opens from the top of the event loop, never from inside the handler that
// posted it (the serial poll, a timer, a HID hand-over), once nothing of ours
// is open, one after the other in the order they were posted. The boxes'
// nested event loops keep running frames, timers and recording meanwhile.
// Main thread only.
class ModalGate final : public QObject {
    Q_OBJECT
public:
    explicit ModalGate(QObject* parent = nullptr);
    ~ModalGate() override;

    // Marks one of our modal boxes or dialogs open for as long as it lives.
    class Hold {
    public:
        Hold() = default;
        explicit Hold(ModalGate* gate);
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold();
        void release();

    private:
        QPointer<ModalGate> gate_;
    };

    [[nodiscard]] Hold hold() { return Hold(this); }
    [[nodiscard]] bool isOpen() const { return open_ > 0; }
    // Notices waiting for their turn.
    [[nodiscard]] std::size_t pending() const { return queue_.size(); }

    // `show` opens the box and returns when the user has closed it; the gate
    // is held meanwhile.
    void post(std::function<void()> show);

private:
    void closed();
    void schedule();
    void showNext();

    int open_ = 0;
    bool scheduled_ = false;
    std::deque<std::function<void()>> queue_;
};

} // namespace qm45
