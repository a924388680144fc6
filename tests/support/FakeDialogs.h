#pragma once

#include "view/Dialogs.h"

#include <QEventLoop>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <functional>

// Records every message box and file dialog the window would show and
// answers questions from a script. While a box is "open" the fake can run the
// event loop for a while, as a real modal box does, so frames and timers go on
// meanwhile; it counts how many of its boxes are open at once.
class FakeDialogs final : public qm45::Dialogs {
public:
    Answer question(QWidget*, const QString& text) override {
        questions << text;
        const Open open(*this, QStringLiteral("question"), text);
        during(QStringLiteral("question"), text);
        return answer;
    }
    void information(QWidget*, const QString& text) override {
        informations << text;
        const Open open(*this, QStringLiteral("information"), text);
        during(QStringLiteral("information"), text);
    }
    using qm45::Dialogs::error;
    void error(QWidget*, const QString& text, const QString& title) override {
        errors << text;
        errorTitles << title;
        const Open open(*this, QStringLiteral("error"), text);
        during(QStringLiteral("error"), text);
        if (whileErrorOpen)
            whileErrorOpen();
    }

    FileChoice saveFile(QWidget*, const FileRequest& request) override {
        fileRequests << request;
        const Open open(*this, QStringLiteral("saveFile"), request.caption);
        during(QStringLiteral("saveFile"), request.caption);
        return nextFile;
    }
    FileChoice openFile(QWidget*, const FileRequest& request) override {
        fileRequests << request;
        const Open open(*this, QStringLiteral("openFile"), request.caption);
        during(QStringLiteral("openFile"), request.caption);
        return nextFile;
    }

    // Runs the event loop for the given time, like a box the user leaves open.
    static void keepOpenFor(int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    Answer answer = Answer::No;
    FileChoice nextFile; // what the next file dialog answers
    QList<FileRequest> fileRequests;
    QStringList questions;
    QStringList informations;
    QStringList errors;
    QStringList errorTitles;
    // Every box and dialog in the order it opened: "error: text",
    // "question: text", "saveFile: caption" ...
    QStringList log;
    // Runs while an error box is open (after whileOpen).
    std::function<void()> whileErrorOpen;
    // Runs while any box or dialog is open; given its kind ("error",
    // "information", "question", "saveFile", "openFile") and its text. It may
    // throw, as a handler's code would.
    std::function<void(const QString& kind, const QString& text)> whileOpen;
    int openBoxes = 0;
    int maxOpenBoxes = 0;

private:
    void during(const QString& kind, const QString& text) {
        if (whileOpen)
            whileOpen(kind, text);
    }
    // Counts the box open until it goes, also when whileOpen throws.
    struct Open {
        Open(FakeDialogs& d, const QString& kind, const QString& text) : dialogs(d) {
            d.log << kind + QStringLiteral(": ") + text;
            ++d.openBoxes;
            d.maxOpenBoxes = std::max(d.maxOpenBoxes, d.openBoxes);
        }
        ~Open() { --dialogs.openBoxes; }
        Open(const Open&) = delete;
        Open& operator=(const Open&) = delete;
        FakeDialogs& dialogs;
    };
};
