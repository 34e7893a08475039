#include "run_program.h"

#include <QProcess>

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

} // namespace tampod::test
