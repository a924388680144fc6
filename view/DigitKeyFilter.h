#pragma once

#include <QObject>

class QKeyEvent;

namespace qm45 {

// Key filter for edits that take a whole number: of the keys that type a
// character, only the digits and backspace reach the edit. Keys that type
// nothing (arrows, Delete, Home, Tab to the next control) pass unchanged.
// Pasting is not a key press and is left to the edit's change handler.
class DigitKeyFilter final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    [[nodiscard]] static bool passes(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace qm45
