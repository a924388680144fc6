#pragma once

#include "view/Dialogs.h"

#include <QEventLoop>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>

// Records every message box the window would show and answers questions from
// a script. While a box is "open" the fake can run the event loop for a while,
// as a real modal box does, so frames and timers go on meanwhile.
class FakeDialogs final : public qm45::Dialogs {
public:
    Answer question(QWidget*, const QString& text) override {
        questions << text;
        return answer;
    }
    void information(QWidget*, const QString& text) override { informations << text; }
    using qm45::Dialogs::error;
    void error(QWidget*, const QString& text, const QString& title) override {
        errors << text;
        errorTitles << title;
        ++openBoxes;
        maxOpenBoxes = std::max(maxOpenBoxes, openBoxes);
        if (whileErrorOpen)
            whileErrorOpen();
        --openBoxes;
    }

    FileChoice saveFile(QWidget*, const FileRequest& request) override {
        fileRequests << request;
        return nextFile;
    }
    FileChoice openFile(QWidget*, const FileRequest& request) override {
        fileRequests << request;
        return nextFile;
    }

    // Runs the event loop for the given time, like a box the user leaves open.
    static void keepOpenFor(int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    Answer answer = Answer::No;
    FileChoice nextFile;               // what the next file dialog answers
    QList<FileRequest> fileRequests;
    QStringList questions;
    QStringList informations;
    QStringList errors;
    QStringList errorTitles;
    std::function<void()> whileErrorOpen;
    int openBoxes = 0;
    int maxOpenBoxes = 0;
};
