#pragma once

#include <QString>
#include <QStringList>

namespace tampod {

struct SD2RecoveryFailure;

// Every modal question and warning of the application goes through this interface, so that
// tests answer them with a recorder and never enter a modal loop. A caller re-checks its own
// pointers and state after each call: events run while an alert is up. thread: main only.
class AlertPresenting {
public:
    virtual ~AlertPresenting() = default;

    // A warning with "OK"; detail lines, when there are any, in a scrolling text.
    virtual void show(const QString &title, const QString &message, const QStringList &details) = 0;
    // "Quit tamPOD?": true when the user chose "Quit".
    virtual bool confirmQuit() = 0;
    // The SD2 bit-depth trial: true only when the user chose to try the depth.
    virtual bool confirmRecoveryDepth(int bitDepth) = 0;
    // A failed SD2 recovery, with its technical explanation on request.
    virtual void showRecovery(const SD2RecoveryFailure &failure) = 0;
};

} // namespace tampod
