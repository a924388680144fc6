#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace qm45 {

// Modal message boxes. The window talks to this interface so that tests can
// answer questions and see what the user would have been told. Every call
// runs a nested event loop in the real implementation: frames, timers and
// recording go on while a box is open.
class Dialogs {
public:
    enum class Answer { Yes, No };

    virtual ~Dialogs() = default;
    // Information icon, buttons Yes and No.
    virtual Answer question(QWidget* parent, const QString& text) = 0;
    // Information icon, button OK.
    virtual void information(QWidget* parent, const QString& text) = 0;
    // Error icon, button OK, the given title (none when empty).
    virtual void error(QWidget* parent, const QString& text, const QString& title) = 0;
    void error(QWidget* parent, const QString& text) { error(parent, text, QString()); }

    // A file dialog's request and answer. Filters are Qt filter strings
    // ("Bitmaps (*.bmp)"); the default suffix is added to a name typed without
    // one; saving asks before an existing file is replaced.
    struct FileRequest {
        QString caption;
        QStringList filters;
        QString defaultSuffix; // without the dot; empty: none
        QString initialPath;   // directory or file name to start from
        QString directory;     // folder to open in, with an empty name field
    };
    struct FileChoice {
        QString path; // empty: cancelled
        int filterIndex = 0;
    };
    virtual FileChoice saveFile(QWidget* parent, const FileRequest& request) = 0;
    virtual FileChoice openFile(QWidget* parent, const FileRequest& request) = 0;
};

class MessageBoxDialogs final : public Dialogs {
public:
    Answer question(QWidget* parent, const QString& text) override;
    void information(QWidget* parent, const QString& text) override;
    using Dialogs::error;
    void error(QWidget* parent, const QString& text, const QString& title) override;
    FileChoice saveFile(QWidget* parent, const FileRequest& request) override;
    FileChoice openFile(QWidget* parent, const FileRequest& request) override;
};

} // namespace qm45
