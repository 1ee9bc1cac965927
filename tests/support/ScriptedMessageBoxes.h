// Answers the program's message boxes from a script while a test runs, and
// records what was asked. A box nobody expected fails the test (answered
// Cancel), so no test can hang in a modal loop.
#pragma once

#include <QList>
#include <QString>
#include <gtest/gtest.h>

#include <deque>

#include "QelMessageBox.h"

struct TScriptedBox {
    QString Text;
    QString Caption;
    uint32_t Flags = 0;
};

class TScriptedMessageBoxes {
public:
    TScriptedMessageBoxes() {
        FPrevious = QelSetMessageBoxHook([this](const QString& text, const QString& caption, uint32_t flags) {
            Boxes.append({text, caption, flags});
            if (Answers.empty()) {
                ADD_FAILURE() << "unexpected message box: " << text.toStdString();
                return IDCANCEL;
            }
            const int answer = Answers.front();
            Answers.pop_front();
            return answer;
        });
    }
    ~TScriptedMessageBoxes() { QelSetMessageBoxHook(FPrevious); }
    TScriptedMessageBoxes(const TScriptedMessageBoxes&) = delete;
    TScriptedMessageBoxes& operator=(const TScriptedMessageBoxes&) = delete;

    std::deque<int> Answers;
    QList<TScriptedBox> Boxes;

private:
    TQelMessageBoxHook FPrevious;
};
