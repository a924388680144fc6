#pragma once

#include <QFrame>
#include <QString>

#include <functional>

namespace qm45 {

// A raised panel with a centred caption that reports clicks, like a button
// drawn flat. A disabled panel ignores clicks. Its hint can be computed when
// it is asked for, so it always tells the current state.
class ClickablePanel : public QFrame {
    Q_OBJECT
public:
    explicit ClickablePanel(const QString& caption, QWidget* parent = nullptr);

    [[nodiscard]] QString caption() const { return caption_; }
    void setHintProvider(std::function<QString()> provider) { hintProvider_ = std::move(provider); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QString caption_;
    std::function<QString()> hintProvider_;
};

} // namespace qm45
