#!/usr/bin/env python3
"""Keeps the modules in src/ in their one-way order.

usage: check_layering.py SRC LAYERING_TXT [GRAPH_DOT]

Refuses a file that includes (quoted or angle-bracket) a module it may not use or another
module's internal/ headers, a public header (one outside every internal/ folder) that includes
any internal/ header, its own module's included, system or audio-library headers outside the
modules allowed them, a thread started outside concurrency, and include cycles between the
sub-folders of a module (at every depth: the sub-folders of any one folder), includes between
the interface's feature folders other than those FOLDER_RULES lists, a module FOLDER_RULES keeps
for some folders used from others, and includes between the rooms ROOM_RULES lists other than
its one-way order. Only direct includes are looked at: every public header is checked.
Writes the module graph actually used as Graphviz dot (default: beside LAYERING_TXT).
"""
import collections
import pathlib
import re
import sys

INCLUDE = re.compile(r'\s*#\s*include\s*[<"]([^>"]+)[>"]')
# Who may include what besides the project's own headers: (pattern, modules allowed, what).
SYSTEM_RULES = [
    (re.compile(r'(libav\w*|libswresample|FLAC|alsa|jack)/|sndfile|portaudio|pa_linux'
                r'|sys/xattr\.h$|dlfcn\.h$'),
     {"platform"}, "audio-library, xattr and loader headers"),
    (re.compile(r'(sys|linux|netinet|arpa)/|(unistd|fcntl|dirent|poll|pthread|pwd|grp|sched'
                r'|semaphore|spawn|termios|syslog|netdb|libgen|fnmatch|glob|ftw)\.h$'),
     {"core", "files", "platform"}, "POSIX and Linux headers"),
]
THREAD_START = re.compile(r'\bstd::j?thread\s*(\w+\s*)?[({]|\bpthread_create\b|\bQThread::create\b'
                          r'|\bstd::async\b')
THREAD_MODULE = "concurrency"
# Sub-folders of a module that form a kit and the features built on it: every feature may use
# the kit, the kit uses no feature, and a feature uses another only where listed ("*": any).
# "modules" names modules that only the listed folders of the module may use.
FOLDER_RULES = {
    "views": {"kit": "kit", "uses": {"main": "*", "export": {"export_form"},
                                     "settings": {"export_form"}, "manual": set()},
              "modules": {"help": {"manual"}}},
}
# Folders whose sub-folders are rooms: a room includes no sibling room's headers except those
# listed for it, so the rooms stay one-way. The folder's own files (a shared base, the dispatch
# over the rooms) are no room.
ROOM_RULES = {
    # The FFmpeg stream fixes lengths and seeks with what the container families' parsers learn.
    "platform/decode/internal": {"ffmpeg": {"flac", "mpeg", "ogg"}},
}
KNOWN = pathlib.Path(__file__).with_name("layering_known.txt")


def read_order(layering):
    """module -> modules it may use (itself included), in the order of src/CMakeLists.txt."""
    allowed = {}
    for line in pathlib.Path(layering).read_text().splitlines():
        name, _, deps = line.partition(":")
        if name.strip():
            allowed[name.strip()] = set(deps.replace(";", " ").split()) | {name.strip()}
    return allowed


def check(src, allowed):
    """Returns (problems, module edges with counts)."""
    src = pathlib.Path(src)
    problems = []
    edges = collections.Counter()
    folder_edges = collections.defaultdict(dict)  # module -> {(from, to): first place}
    for path in sorted(p for p in src.rglob("*") if p.suffix in (".h", ".cpp") and p.is_file()):
        parts = path.relative_to(src).parts
        shown = path.relative_to(src.parent)
        module, folder = parts[0], parts[1] if len(parts) > 2 else "."
        public_header = path.suffix == ".h" and "internal" not in parts[1:-1]
        if module not in allowed:
            problems.append(f"{shown}: folder '{module}' is not a module in src/CMakeLists.txt")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            where = f"{shown}:{number}"
            code = line.split("//", 1)[0]
            if module != THREAD_MODULE and THREAD_START.search(code):
                problems.append(f"{where}: only {THREAD_MODULE} starts threads: use startThread")
            match = INCLUDE.match(line)
            if not match:
                continue
            header = match.group(1)
            target = header.split("/")
            if target[0] in allowed and len(target) > 1:
                if target[0] != module:
                    edges[module, target[0]] += 1
                if target[0] not in allowed[module]:
                    problems.append(f"{where}: module '{module}' may not include '{header}'")
                elif target[0] != module:
                    if "internal" in target[1:-1]:
                        problems.append(f"{where}: '{header}' is internal to '{target[0]}'")
                    refused = refused_module(module, folder, target[0])
                    if refused:
                        problems.append(f"{where}: {refused}: '{header}'")
                else:
                    if public_header and "internal" in target[1:-1]:
                        # Its users would compile against the module's internals through it.
                        problems.append(f"{where}: public header includes internal '{header}'")
                    to = target[1] if len(target) > 2 else "."
                    # A module's private helpers may use its own public types (its errors,
                    # its records); only folders by topic must stay one-way.
                    if to != folder and not (folder == "internal" and to == "."):
                        folder_edges[module].setdefault((folder, to), where)
                        refused = refused_folder(module, folder, to)
                        if refused:
                            problems.append(f"{where}: {refused}: '{header}'")
                    nested = nested_edge(parts[:-1], target[:-1])
                    if nested:
                        parent, edge = nested
                        folder_edges[parent].setdefault(edge, where)
                        refused = refused_room(parent, *edge)
                        if refused:
                            problems.append(f"{where}: {refused}: '{header}'")
                continue
            for pattern, modules, what in SYSTEM_RULES:
                if module not in modules and pattern.match(header):
                    problems.append(f"{where}: {what} belong to {', '.join(sorted(modules))}"
                                    f" only: <{header}>")
                    break
    for module, places in sorted(folder_edges.items()):
        for cycle in find_cycles(places.keys()):
            steps = [places[a, b] for a, b in zip(cycle, cycle[1:])]
            problems.append(f"{src.name}/{module}: sub-folder cycle {' -> '.join(cycle)}"
                            f" ({'; '.join(steps)})")
    return problems, edges


def nested_edge(source, target):
    """(parent folder, (from, to)) where two folders below a module's own sub-folders part at
    sibling sub-folders of one parent, or None. A folder's own files are left out: they may
    compose its sub-folders, and the sub-folders may use them as their shared base."""
    common = 0
    while common < min(len(source), len(target)) and source[common] == target[common]:
        common += 1
    if common < 2 or common >= min(len(source), len(target)):
        return None
    return "/".join(source[:common]), (source[common], target[common])


def refused_room(parent, room, to):
    """Why room may not include from its sibling to, both in parent, or None."""
    rooms = ROOM_RULES.get(parent)
    if rooms is None or to in rooms.get(room, set()):
        return None
    return f"room '{room}' of {parent} may not include sibling room '{to}'"


def refused_folder(module, folder, to):
    """Why folder may not include from to within module, or None."""
    rules = FOLDER_RULES.get(module)
    if not rules or to == ".":
        return None
    kit = rules["kit"]
    if folder == kit:
        return f"the {module} kit uses no feature"
    if to == kit:
        return None
    allowed = rules["uses"].get(folder, set())
    if allowed == "*" or to in allowed:
        return None
    return f"{module} feature '{folder}' may not use feature '{to}'"


def refused_module(module, folder, used):
    """Why folder of module may not include from the module used, or None."""
    users = FOLDER_RULES.get(module, {}).get("modules", {}).get(used)
    if users is None or folder in users:
        return None
    return f"{module} folder '{folder}' may not use module '{used}'"


def find_cycles(edges):
    """The shortest cycle through each folder not yet in a reported cycle, as a closed path."""
    graph = collections.defaultdict(set)
    for a, b in edges:
        graph[a].add(b)
    cycles, covered = [], set()
    for start in sorted(graph):
        parent, queue = {start: None}, collections.deque([start])
        while queue and start not in covered:
            node = queue.popleft()
            for after in sorted(graph[node]):
                if after == start:
                    cycle = [node]
                    while cycle[-1] != start:
                        cycle.append(parent[cycle[-1]])
                    cycles.append(cycle[::-1] + [start])
                    covered.update(cycle)
                    break
                if after not in parent:
                    parent[after] = node
                    queue.append(after)
    return cycles


def write_graph(path, modules, edges, allowed):
    """Modules bottom-up, each edge labelled with its number of includes; refused edges red."""
    lines = ["digraph modules {", "  rankdir=BT;", "  node [shape=box];"]
    lines += [f'  "{m}";' for m in modules]
    lines += [f'  "{a}" -> "{b}" [label="{n}"{"" if b in allowed[a] else ", color=red"}];'
              for (a, b), n in sorted(edges.items())]
    pathlib.Path(path).write_text("\n".join(lines + ["}"]) + "\n")


def key(problem):
    """A problem without its line numbers and example places, which move as code is edited."""
    return re.sub(r":\d+", "", problem).split(" (")[0]


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__)
        return 2
    allowed = read_order(argv[2])
    problems, edges = check(argv[1], allowed)
    graph = argv[3] if len(argv) == 4 else pathlib.Path(argv[2]).with_name("module-graph.dot")
    write_graph(graph, [m for m in allowed if (pathlib.Path(argv[1]) / m).is_dir()], edges, allowed)
    # Problems already in the tree when a rule came, waiting for their owners; the list may
    # only shrink, so an entry that no longer matches is a problem too.
    known = {line for line in KNOWN.read_text().splitlines() if line and not line.startswith("#")}
    found = {key(p) for p in problems}
    problems = [p for p in problems if key(p) not in known]
    problems += [f"{KNOWN.name}: fixed, remove the entry: {k}" for k in sorted(known - found)]
    for problem in problems:
        print(problem)
    print(f"layering: {len(problems)} problem(s), {len(known & found)} known; graph in {graph}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
