#!/usr/bin/env python3
"""The process-state check on small made-up trees: every way of writing each forbidden call is
found, what only looks like one is not, and main may set the environment."""
import pathlib
import tempfile
import unittest
from unittest import mock

import check_process_state

# Each text makes exactly one forbidden call, named second, on the line given third.
FORBIDDEN = [
    ('setenv("A", "1", 1);', "setenv", 1),
    ('::putenv(text);', "putenv", 1),
    ('unsetenv("A");', "unsetenv", 1),
    ("clearenv();", "clearenv", 1),
    ('qputenv("A", "1");', "qputenv", 1),
    ('qunsetenv("A");', "qunsetenv", 1),
    ('std::setlocale(LC_ALL, "");', "setlocale", 1),
    ("signal(SIGPIPE, SIG_IGN);", "signal", 1),
    ("std::signal(SIGINT, handler);", "signal", 1),
    ("struct sigaction action{};\nsigaction(SIGINT, &action, nullptr);", "sigaction", 2),
    ("umask(077);", "umask", 1),
    ('chdir("/");', "chdir", 1),
    ("::fchdir(fd);", "fchdir", 1),
    ("tzset();", "tzset", 1),
    ("setrlimit(RLIMIT_NOFILE, &limit);", "setrlimit", 1),
    ("std::locale::global(std::locale(\"\"));", "locale::global", 1),
    ("QLocale::setDefault(QLocale::c());", "QLocale::setDefault", 1),
    ("QDir::setCurrent(path);", "QDir::setCurrent", 1),
    ('bool f() { return setenv("A", "1", 1) == 0; }', "setenv", 1),
    ('int f()\n{\n    return\n        qputenv("A", "1");\n}', "qputenv", 4),
    ('x = 1;\nsetenv\n    ("A", "1", 1);', "setenv", 2),
    ("std::locale::\n    global(l);", "locale::global", 1),
    ("const auto set = &::setenv;\nset(\"A\", \"1\", 1);", "setenv", 1),
    ("auto handler = &std::signal;", "signal", 1),
    ("run(QDir::setCurrent, path);", "QDir::setCurrent", 1),
    ("std::invoke(setlocale, LC_ALL, \"\");", "setlocale", 1),
    ('/* "quoted */ setenv("A", "1", 1);', "setenv", 1),
    ('const char *u = "http://x"; setenv("A", "1", 1);', "setenv", 1),
]

# Nothing here changes process-wide state.
HARMLESS = [
    'const char *text = "(signal(1))";',
    'const char *raw = R"x(setenv("A", "1", 1) ")x";',
    "char open = '('; // signal(SIGINT, h)",
    "/* umask(0);\n   chdir(\"/\"); */",
    "wake.signal();\nvoice->signal();\nQ_EMIT signal();",
    "void signal() noexcept;\nvoid Wake::signal() noexcept {}",
    "void tame(std::vector<float> &signal);\nfor (auto signal : signals) watch(signal);",
    "struct sigaction action{};",
    "button->setDefault(true);",
    'qgetenv("HOME"); getenv("A"); std::locale l;',
]


class CheckProcessState(unittest.TestCase):
    def run_check(self, files):
        src = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
        for name, text in files.items():
            (src / name).parent.mkdir(parents=True, exist_ok=True)
            (src / name).write_text(text + "\n")
        with mock.patch("builtins.print") as printed:
            status = check_process_state.main(["", str(src)])
        return status, [str(call.args[0]) for call in printed.call_args_list]

    def test_every_forbidden_call_is_found_however_it_is_written(self):
        for text, name, line in FORBIDDEN:
            with self.subTest(text):
                self.assertEqual(check_process_state.calls(text), [(line, name)])

    def test_what_only_looks_like_a_call_is_no_call(self):
        for text in HARMLESS:
            with self.subTest(text):
                self.assertEqual(check_process_state.calls(text), [])

    def test_every_source_kind_is_read_and_only_main_sets_the_environment(self):
        status, output = self.run_check({"app/main.cpp": 'setenv("A", "1", 1);',
                                         "app/other.cpp": "\n\numask(0);",
                                         "core/a.hpp": "tzset();", "core/b.inl": "chdir(p);",
                                         "core/c.h": "setenv(a, b, 1);", "core/notes.txt": "umask(0);"})
        self.assertEqual(status, 1)
        self.assertEqual(output[:-1], ["app/other.cpp:3: umask() changes process-wide state",
                                       "core/a.hpp:1: tzset() changes process-wide state",
                                       "core/b.inl:1: chdir() changes process-wide state",
                                       "core/c.h:1: setenv() changes process-wide state"])
        self.assertEqual(self.run_check({"app/main.cpp": 'setenv("A", "1", 1);'})[0], 0)
        self.assertEqual(self.run_check({"app/main.cpp": "umask(0);"})[0], 1)


if __name__ == "__main__":
    unittest.main()
