#!/usr/bin/env python3
"""Fails when program code changes process-wide state (the environment, the locale, signal
handlers) anywhere but in the places that run before a second thread starts.

A change to the environment beside another thread's getenv is undefined behaviour in the C
library; the program sets what it must in main, and nowhere else.

usage: check_process_state.py SRC_DIR
"""
import pathlib
import re
import sys

CALLS = re.compile(
    r"(?<![\w.>:])(?:::|std::)?(setenv|putenv|unsetenv|clearenv|qputenv|qunsetenv|setlocale|"
    r"signal|sigaction|std::signal)\s*\(")

# file (relative to SRC_DIR) -> the calls it may make. Each runs from main before any thread.
ALLOWED = {
    "app/main.cpp": {"setenv"},
}

# A word before the name makes it a declaration of a member that shares the name (a type, or
# "void signal()"), except where the word is a keyword that precedes a call.
DECLARATION = re.compile(r"(\w+)\s+$")
CALL_KEYWORDS = {"return", "co_return", "co_await", "else", "do"}


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def violations(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".cpp", ".h"}:
            continue
        relative = path.relative_to(src).as_posix()
        allowed = ALLOWED.get(relative, set())
        text = strip_comments(path.read_text(encoding="utf-8", errors="replace"))
        for number, line in enumerate(text.splitlines(), 1):
            for match in CALLS.finditer(line):
                before = DECLARATION.search(line[:match.start()])
                if before and before.group(1) not in CALL_KEYWORDS:
                    continue
                if match.group(1) not in allowed:
                    found.append(f"{relative}:{number}: {match.group(1)}() changes process-wide state")
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    found = violations(pathlib.Path(sys.argv[1]))
    for line in found:
        print(line)
    if found:
        print("Set process-wide state in main, before any thread starts (see AudioOutput::environment).")
        return 1
    print("process state: no change outside start-up")
    return 0


if __name__ == "__main__":
    sys.exit(main())
