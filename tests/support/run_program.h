#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tampod::test {

struct ProgramResult {
    bool ok = false; // started, ended normally with exit code 0
    QByteArray out;
    QByteArray err;
};

// Runs an installed program to its end (at most a minute) and collects what it printed.
ProgramResult runProgram(const QString &program, const QStringList &arguments);

// Runs a program that must succeed (the test fails otherwise) and returns its trimmed output.
QByteArray runChecked(const QString &program, const QStringList &arguments);

// The system interpreter: python3-mutagen is installed for it, not for any other python3.
inline const QString systemPython = QStringLiteral("/usr/bin/python3");

} // namespace tampod::test
