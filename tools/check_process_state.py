#!/usr/bin/env python3
"""Fails when program code changes process-wide state (the environment, the locale, the time
zone, the working folder, the file-mode mask, resource limits, signal handlers) anywhere but in
the places that run before a second thread starts.

A change to the environment beside another thread's getenv is undefined behaviour in the C
library, and the others change what every thread sees at once; the program sets what it must
in main, and nowhere else. A call counts however it is written: across lines, through a
function's address, or with a name only a function has.

usage: check_process_state.py SRC_DIR
"""
import pathlib
import re
import sys

SOURCE_SUFFIXES = {".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".inl", ".ipp", ".tpp"}

# Names only these functions have: any use but a declaration counts (a call, its address
# taken, the function passed on).
FUNCTIONS = ["locale::global", "QLocale::setDefault", "QDir::setCurrent", "setenv", "putenv", "unsetenv",
             "clearenv", "qputenv", "qunsetenv", "setlocale", "sigaction", "umask", "chdir", "fchdir", "tzset",
             "setrlimit"]
# Names others share (Qt's signals, a member called signal): only a call or the address of
# exactly this function counts.
SHARED = ["signal"]

REFERENCE = re.compile(
    r"(?<![\w.>:])(?P<address>&\s*)?(?:::\s*)?(?:std\s*::\s*)?"
    r"(?P<name>" + "|".join(SHARED + FUNCTIONS).replace("::", r"\s*::\s*") + r")\b"
    r"(?P<call>\s*\()?")

# file (relative to SRC_DIR) -> the calls it may make. Each runs from main before any thread.
ALLOWED = {
    "app/main.cpp": {"setenv"},
}

# A word before the name (or before its "&") on its line makes it a declaration of something
# that shares the name (a type, or "void signal()"), except where the word is a keyword that
# precedes a call.
DECLARATION = re.compile(r"(\w+)\s*$")
CALL_KEYWORDS = {"return", "co_return", "co_await", "co_yield", "else", "do", "throw", "case"}

# Comments, string and character literals (raw strings included), in the order they start.
NOT_CODE = re.compile(r'R"(?P<delimiter>[^()\\\s]{0,16})\(.*?\)(?P=delimiter)"'
                      r'|"(?:\\.|[^"\\\n])*"'
                      r"|(?<![\w'])'(?:\\.|[^'\\\n]){1,8}'"
                      r"|//[^\n]*"
                      r"|/\*.*?\*/", re.S)


def strip_comments(text):
    """Blanks comments and literals, keeping every line where it was."""
    return NOT_CODE.sub(lambda m: '""' + "\n" * m.group(0).count("\n")
                        if m.group(0)[0] in "R\"'" else "\n" * m.group(0).count("\n") or " ", text)


def calls(text):
    """(line, name) of each change of process-wide state in a source text."""
    text = strip_comments(text)
    found = []
    for match in REFERENCE.finditer(text):
        name = re.sub(r"\s+", "", match.group("name"))
        line_start = text.rfind("\n", 0, match.start()) + 1
        before = text[line_start:match.start()]
        # "T &name" and "vector<T> &name" declare a reference; "(&name" takes an address.
        word = DECLARATION.search(before)
        if (word and word.group(1) not in CALL_KEYWORDS) or (match.group("address") and before.rstrip().endswith(">")):
            continue
        if name not in FUNCTIONS and not (match.group("address") or match.group("call")):
            continue
        found.append((text.count("\n", 0, match.start()) + 1, name))
    return found


def violations(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        relative = path.relative_to(src).as_posix()
        allowed = ALLOWED.get(relative, set())
        for number, name in calls(path.read_text(encoding="utf-8", errors="replace")):
            if name not in allowed:
                found.append(f"{relative}:{number}: {name}() changes process-wide state")
    return found


def main(argv=None):
    argv = sys.argv if argv is None else argv
    if len(argv) != 2:
        print(__doc__)
        return 2
    found = violations(pathlib.Path(argv[1]))
    for line in found:
        print(line)
    if found:
        print("Set process-wide state in main, before any thread starts (see AudioOutput::environment).")
        return 1
    print("process state: no change outside start-up")
    return 0


if __name__ == "__main__":
    sys.exit(main())
