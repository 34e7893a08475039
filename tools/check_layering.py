#!/usr/bin/env python3
"""Fails when a source file includes a header of a module it may not use, or when a module
other than platform includes a third-party C audio header or a Linux-specific header."""
import pathlib
import re
import sys

THIRD_PARTY = re.compile(
    r'#\s*include\s*[<"](libav\w*/|libswresample/|sndfile|FLAC/|portaudio|pa_linux|alsa/|jack/|linux/|sys/xattr\.h)')
PROJECT_INCLUDE = re.compile(r'#\s*include\s*"([a-z0-9_]+)/')


def main() -> int:
    src = pathlib.Path(sys.argv[1])
    allowed = {}
    for line in pathlib.Path(sys.argv[2]).read_text().splitlines():
        name, _, deps = line.partition(":")
        allowed[name.strip()] = set(deps.replace(";", " ").split()) | {name.strip()}
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        module = path.relative_to(src).parts[0]
        if module not in allowed:
            problems.append(f"{path}: folder '{module}' is not a module in src/CMakeLists.txt")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = PROJECT_INCLUDE.match(line.strip())
            if match and match.group(1) in allowed and match.group(1) not in allowed[module]:
                problems.append(f"{path}:{number}: module '{module}' may not include '{match.group(1)}/'")
            if module != "platform" and THIRD_PARTY.match(line.strip()):
                problems.append(f"{path}:{number}: only platform may include {line.strip()}")
    for problem in problems:
        print(problem)
    print(f"layering: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
