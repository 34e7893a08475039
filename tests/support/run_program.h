#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <string>

namespace tampod::test {

// A helper program is waited for as long as it runs: this limit only guards against a hang, well
// past what any helper needs on a loaded machine, and below the test's own limit so that the
// hung program is named.
inline constexpr std::chrono::seconds helperHangGuard{240};

// How a helper program ended and what it wrote.
struct ProgramRun {
    QByteArray output;
    QByteArray errors;
    bool exited = false;    // ended by itself, with whatever exit code
    bool succeeded = false; // ended by itself with exit code 0
    std::string ending;     // "exit code 1", "signal 9 (SIGKILL)", "no start: ...", ...

    // The program, its arguments, how it ended and its standard error, for a failure message.
    std::string described(const QString &program, const QStringList &arguments) const;
};

// Runs a program to its end (or the hang guard) and reports how it ended.
ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// Runs an installed program that must end by itself with exit code 0, and returns its standard
// output: trimmed text, or the bytes as written. A program that does not is a test failure naming
// it, how it ended and its standard error, and throws, so that the test never goes on with a
// fixture the program left unfinished.
QByteArray runChecked(const QString &program, const QStringList &arguments);
QByteArray runCheckedBytes(const QString &program, const QStringList &arguments);

// The system interpreter: python3-mutagen is installed for it, not for any other python3.
inline const QString systemPython = QStringLiteral("/usr/bin/python3");

} // namespace tampod::test
