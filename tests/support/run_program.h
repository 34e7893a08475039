#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tampod::test {

// Runs an installed program that must end normally with exit code 0 within a minute (the test
// fails otherwise) and returns its trimmed standard output.
QByteArray runChecked(const QString &program, const QStringList &arguments);

// The system interpreter: python3-mutagen is installed for it, not for any other python3.
inline const QString systemPython = QStringLiteral("/usr/bin/python3");

} // namespace tampod::test
