#pragma once

#include "views/kit/dialogs/alert_presenting.h"

#include "sd2/sd2_recovery_failure.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tampod::test {

// Records every alert and answers questions with a fixed reply; never enters a modal loop.
class AlertRecorder : public AlertPresenting {
public:
    struct Shown {
        QString title, message;
        QStringList details;
    };
    QList<Shown> shown;
    int quitQuestions = 0;
    bool quitAnswer = false;

    void show(const QString &title, const QString &message, const QStringList &details) override
    {
        shown.append({title, message, details});
    }
    bool confirmQuit() override
    {
        ++quitQuestions;
        return quitAnswer;
    }
    bool confirmRecoveryDepth(int) override { return false; }
    void showRecovery(const SD2RecoveryFailure &failure) override
    {
        shown.append({failure.title, failure.message, {}});
    }
};

} // namespace tampod::test
