#include "run_program.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace tampod::test {

ProgramResult runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    ProgramResult result;
    const bool finished = process.waitForFinished(60'000);
    if (!finished)
        process.kill();
    process.waitForFinished();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}

QByteArray runChecked(const QString &program, const QStringList &arguments)
{
    const ProgramResult result = runProgram(program, arguments);
    EXPECT_TRUE(result.ok) << program.toStdString() << " " << arguments.join(u' ').toStdString() << ": "
                           << result.err.toStdString();
    return result.out.trimmed();
}

} // namespace tampod::test
