#pragma once

#include "view/Dialogs.h"
#include "view/ModalGate.h"

#include <functional>
#include <memory>

namespace qm45 {

// The message boxes every part of the window uses, behind one ModalGate.
// `information` and `error` become notices: they return at once and their box
// opens later, after the box or dialog of ours that is open has closed, in
// the order they were asked for. `question` and the file dialogs answer at
// once (the user asked for them) and hold the gate while they are open.
class GatedDialogs final : public Dialogs {
public:
    GatedDialogs(ModalGate& gate, std::shared_ptr<Dialogs> inner);

    Answer question(QWidget* parent, const QString& text) override;
    void information(QWidget* parent, const QString& text) override;
    using Dialogs::error;
    void error(QWidget* parent, const QString& text, const QString& title) override;
    FileChoice saveFile(QWidget* parent, const FileRequest& request) override;
    FileChoice openFile(QWidget* parent, const FileRequest& request) override;

    // A notice of one's own: `show` is given the dialogs behind the gate and
    // opens its box there when its turn comes.
    void post(std::function<void(Dialogs& inner)> show);

    [[nodiscard]] ModalGate& gate() const { return gate_; }

private:
    ModalGate& gate_;
    std::shared_ptr<Dialogs> inner_;
};

} // namespace qm45
