#include "run_program.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string.h>

namespace tampod::test {

namespace {

std::string signalName(int signal)
{
    const char *abbreviation = ::sigabbrev_np(signal);
    return "signal " + std::to_string(signal) + (abbreviation ? std::string(" (SIG") + abbreviation + ")" : "");
}

} // namespace

std::string ProgramRun::described(const QString &program, const QStringList &arguments) const
{
    return "helper program `" + program.toStdString() + " " + arguments.join(u' ').toStdString() + "` ended with "
        + ending + "; its standard error: "
        + (errors.trimmed().isEmpty() ? std::string("(empty)") : "\n" + errors.toStdString());
}

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    ProgramRun run;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(int(std::chrono::milliseconds(helperHangGuard).count()))) {
        run.ending = "no start: " + process.errorString().toStdString();
        return run;
    }
    const bool ended = process.waitForFinished(int(std::chrono::milliseconds(helperHangGuard).count()));
    if (!ended) {
        process.kill();
        process.waitForFinished(-1);
    }
    run.output = process.readAllStandardOutput();
    run.errors = process.readAllStandardError();
    // After a crash Qt keeps the number of the signal that ended the program as its exit code.
    if (!ended)
        run.ending = "no end within the hang guard of " + std::to_string(helperHangGuard.count()) + " s (killed)";
    else if (process.exitStatus() == QProcess::CrashExit)
        run.ending = signalName(process.exitCode());
    else
        run.ending = "exit code " + std::to_string(process.exitCode());
    run.exited = ended && process.exitStatus() == QProcess::NormalExit;
    run.succeeded = run.exited && process.exitCode() == 0;
    return run;
}

QByteArray runCheckedBytes(const QString &program, const QStringList &arguments)
{
    const ProgramRun run = runProgram(program, arguments);
    if (!run.succeeded) {
        ADD_FAILURE() << run.described(program, arguments);
        throw std::runtime_error("helper program " + program.toStdString() + " failed (reported above)");
    }
    return run.output;
}

QByteArray runChecked(const QString &program, const QStringList &arguments)
{
    return runCheckedBytes(program, arguments).trimmed();
}

} // namespace tampod::test
