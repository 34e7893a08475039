#!/usr/bin/env python3
"""The layering check on small made-up trees: a clean tree passes, each kind of fault is found."""
import pathlib
import tempfile
import unittest
from unittest import mock

import check_layering

ORDER = "core:\nconcurrency: core\nfiles: core concurrency\nplatform: core concurrency files\n" \
        "tags: core concurrency files platform\nhelp: core\nviews: core tags help\n"

# Everything here is allowed: own internal headers (also a sub-folder's) in sources and in other
# internal headers, POSIX in core, audio libraries in platform, threads in concurrency, a thread
# named only in a comment.
CLEAN = {
    "core/file.cpp": "#include <unistd.h>\n#include <sys/stat.h>\n",
    "files/store.cpp": '#include "concurrency/start.h"\n#include <dirent.h>\n',
    "concurrency/start.h": '#include "core/file.h"\nauto t = std::jthread([] {});\n',
    "platform/decode/reader.cpp": '#include "platform/decode/internal/input.h"\n'
                                  '#include "platform/internal/owners.h"\n#include <dlfcn.h>\n'
                                  "#include <libavformat/avformat.h>\n#include <sndfile.h>\n",
    "platform/internal/owners.h": "#include <libavutil/mem.h>\n",
    "platform/decode/internal/input.h": '#include "platform/internal/owners.h"\n',
    "platform/decode/reader.h": '#include "platform/decode/audio_format.h"\n',
    "tags/reader.cpp": '#include "platform/decode/reader.h"\n#include <tags/internal/x.h>\n'
                       "// never std::thread( here\n",
    "views/main/window.cpp": '#include "views/kit/theme.h"\n#include "views/export/sheet.h"\n',
    "views/export/sheet.cpp": '#include "views/kit/theme.h"\n#include "views/export_form/row.h"\n',
    "views/export_form/row.cpp": '#include "views/kit/theme.h"\n#include "views/app_texts.h"\n',
    "views/manual/page.cpp": '#include "views/kit/theme.h"\n#include "help/help_article.h"\n',
    # The decode rooms: ffmpeg above ogg, both on the shared base, the dispatch over both.
    "platform/decode/internal/ffmpeg/stream.h": '#include "platform/decode/internal/ogg/seek.h"\n'
                                                '#include "platform/decode/internal/base.h"\n',
    "platform/decode/internal/ogg/seek.cpp": '#include "platform/decode/internal/limits.h"\n',
    "platform/decode/internal/base.cpp": '#include "platform/decode/internal/ffmpeg/stream.h"\n',
}

FAULTS = [
    ("angle-bracket include of a module below", "core/x.cpp", "#include <tags/reader.h>\n",
     "src/core/x.cpp:1: module 'core' may not include 'tags/reader.h'"),
    ("another module's internal header", "tags/x.cpp", '#include "platform/decode/internal/a.h"\n',
     "'platform/decode/internal/a.h' is internal to 'platform'"),
    ("POSIX header outside core, files, platform", "tags/x.cpp", "#include <fcntl.h>\n",
     "src/tags/x.cpp:1: POSIX and Linux headers"),
    ("audio-library header outside platform", "files/x.cpp", "\n#include <FLAC/all.h>\n",
     "src/files/x.cpp:2: audio-library, xattr and loader headers"),
    ("xattr header outside platform", "files/x.cpp", "#include <sys/xattr.h>\n",
     "src/files/x.cpp:1: audio-library"),
    ("thread started outside concurrency", "platform/x.cpp", "std::thread worker([] {});\n",
     "src/platform/x.cpp:1: only concurrency starts threads"),
    ("public header including its own module's internal header", "platform/decode/reader.h",
     '#include "platform/decode/internal/input.h"\n',
     "src/platform/decode/reader.h:1: public header includes internal 'platform/decode/internal/"),
    ("public header at a module's root including an internal header", "platform/output.h",
     "\n#include <platform/internal/owners.h>\n",
     "src/platform/output.h:2: public header includes internal 'platform/internal/owners.h'"),
    ("public header including another module's internal header, told once", "tags/x.h",
     '#include "platform/internal/owners.h"\n', "'platform/internal/owners.h' is internal to"),
    ("sub-folder cycle", "platform/internal/owners.h", '#include "platform/decode/reader.h"\n',
     "src/platform: sub-folder cycle decode -> internal -> decode"),
    ("interface kit using a feature", "views/kit/x.cpp", '#include "views/waveform/pane.h"\n',
     "src/views/kit/x.cpp:1: the views kit uses no feature"),
    ("interface feature using another", "views/waveform/x.cpp", '#include "views/export/sheet.h"\n',
     "views feature 'waveform' may not use feature 'export'"),
    ("interface folder using a module kept for another", "views/waveform/x.cpp",
     '#include "help/help_article.h"\n', "views folder 'waveform' may not use module 'help'"),
    ("folder that is no module", "extra/x.cpp", "\n", "folder 'extra' is not a module"),
    ("decode room including a sibling outside its order", "platform/decode/internal/mpeg/x.cpp",
     '#include "platform/decode/internal/ogg/seek.h"\n',
     "src/platform/decode/internal/mpeg/x.cpp:1: room 'mpeg' of platform/decode/internal may not"
     " include sibling room 'ogg'"),
]


class CheckLayering(unittest.TestCase):
    def make_tree(self, files):
        root = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
        for name, text in files.items():
            path = root / "src" / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        (root / "layering.txt").write_text(ORDER)
        return root

    def run_check(self, files, known=""):
        root = self.make_tree(files)
        (root / "known.txt").write_text(known)
        with mock.patch.object(check_layering, "KNOWN", root / "known.txt"), \
                mock.patch("builtins.print") as printed:
            status = check_layering.main(["", root / "src", root / "layering.txt", root / "g.dot"])
        output = [str(call.args[0]) for call in printed.call_args_list]
        return status, output, (root / "g.dot").read_text()

    def test_clean_tree_passes_and_draws_the_edges_used(self):
        status, output, graph = self.run_check(CLEAN)
        self.assertEqual(status, 0, output)
        self.assertIn('"tags" -> "platform" [label="1"]', graph)
        self.assertIn('"concurrency" -> "core"', graph)
        self.assertNotIn('"platform" ->', graph)
        self.assertIn('"files" -> "concurrency"', graph)

    def test_each_fault_is_found(self):
        for what, name, text, expected in FAULTS:
            with self.subTest(what):
                status, output, _ = self.run_check({**CLEAN, name: text})
                self.assertEqual(status, 1)
                self.assertEqual(len(output), 2, output)
                self.assertIn(expected, output[0])

    def test_decode_rooms_including_each_other_are_refused_and_drawn_as_a_cycle(self):
        status, output, _ = self.run_check({**CLEAN, "platform/decode/internal/ogg/page.cpp":
                                            '#include "platform/decode/internal/ffmpeg/stream.h"\n'})
        self.assertEqual(status, 1)
        self.assertIn("room 'ogg' of platform/decode/internal may not include sibling room 'ffmpeg'",
                      output[0])
        self.assertIn("src/platform/decode/internal: sub-folder cycle ffmpeg -> ogg -> ffmpeg",
                      output[1])

    def test_sub_folder_cycle_found_at_any_depth(self):
        deep = "files/store/internal/journal/"
        status, output, _ = self.run_check({
            **CLEAN, deep + "a/x.cpp": f'#include "{deep}b/y.h"\n',
            deep + "b/y.h": f'#include <{deep}c/z.h>\n', deep + "c/z.cpp": f'#include "{deep}a/x.h"\n'})
        self.assertEqual(status, 1)
        self.assertEqual(len(output), 2, output)
        self.assertIn("src/files/store/internal/journal: sub-folder cycle a -> b -> c -> a", output[0])

    def test_refused_edge_is_drawn_red(self):
        graph = self.run_check({**CLEAN, "core/x.cpp": '#include "tags/reader.h"\n'})[2]
        self.assertIn('"core" -> "tags" [label="1", color=red]', graph)

    def test_known_problems_pass_until_fixed(self):
        fault = {**CLEAN, "tags/x.cpp": "\n\n#include <fcntl.h>\n"}
        known = "# waiting\nsrc/tags/x.cpp: POSIX and Linux headers belong to core, files, " \
                "platform only: <fcntl.h>\n"
        self.assertEqual(self.run_check(fault, known)[0], 0)
        status, output, _ = self.run_check(CLEAN, known)
        self.assertEqual(status, 1)
        self.assertIn("fixed, remove the entry", output[0])


if __name__ == "__main__":
    unittest.main()
