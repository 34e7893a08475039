// The tests' own helper for running programs: many tests trust its verdict on how a program
// ended, so an exit code it ignored or a crash it counted as an exit would pass them wrongly.

#include "support/run_program.h"

#include <gtest/gtest.h>

using namespace tampod::test;

TEST(RunProgram, TellsAnExitCodeFromASignal)
{
    const auto shell = [](const char *script) {
        return runProgram(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(script)});
    };
    const ProgramRun ok = shell("echo out; echo err >&2");
    EXPECT_TRUE(ok.exited && ok.succeeded) << ok.ending;
    EXPECT_EQ(ok.ending, "exit code 0");
    EXPECT_EQ(ok.output, "out\n");
    EXPECT_EQ(ok.errors, "err\n");

    const ProgramRun failed = runProgram(QStringLiteral("false"), {});
    EXPECT_TRUE(failed.exited);
    EXPECT_FALSE(failed.succeeded);
    EXPECT_EQ(failed.ending, "exit code 1");

    const ProgramRun killed = shell("kill -9 $$");
    EXPECT_FALSE(killed.exited);
    EXPECT_FALSE(killed.succeeded);
    EXPECT_EQ(killed.ending, "signal 9 (SIGKILL)");

    const ProgramRun missing = runProgram(QStringLiteral("/nonexistent/program"), {});
    EXPECT_FALSE(missing.exited || missing.succeeded);
    EXPECT_EQ(missing.ending.rfind("no start: ", 0), 0u) << missing.ending;
}
