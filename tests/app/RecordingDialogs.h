#pragma once

#include "Framework.h"

#include <QStringList>

#include <functional>

// Answers the program's message boxes in tests and remembers what they said.
class RecordingDialogs : public Dialogs {
public:
    RecordingDialogs() { Dialogs::install(this); }
    ~RecordingDialogs() override { Dialogs::install(nullptr); }

    void message(const QString& text, const QString& detail) override {
        messages << text;
        details << detail;
    }
    bool yesNo(const QString& caption, const QString& text) override {
        questions << caption + QLatin1Char('|') + text;
        return answerYes;
    }
    void error(const QString& text) override {
        errors << text;
        if (onError)
            onError();
    }

    QStringList messages;
    QStringList details;
    QStringList questions;
    QStringList errors;
    bool answerYes = true;
    std::function<void()> onError; // runs while the error box would be open
};
