#include "run_program.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace tampod::test {

QByteArray runChecked(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60'000);
    if (!finished)
        process.kill();
    process.waitForFinished();
    EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        << program.toStdString() << " " << arguments.join(u' ').toStdString() << ": "
        << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput().trimmed();
}

} // namespace tampod::test
