#!/usr/bin/env bash
# An installed copy is whole: `cmake --install` into a fresh prefix puts the program and the
# bundled Vinyl samples where the program looks for them, and an export with Vinyl and Hum run
# from the prefix's bin folder finds them. The export is the developer tool that exports as the
# export sheet does: it finds the samples as the program does, beside its own executable.
#
#   installed_copy_test.sh BUILD_DIR EXPORT_FILE
set -euo pipefail
build=$1
export_file=$2
# Under the sanitizers: this is about where the samples are, not about the tool's leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "installed_copy_test: $*" >&2
  exit 1
}

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log" >&2
  fail "cmake --install failed"
}
[ -x "$prefix/bin/tampod" ] || fail "no bin/tampod in the installed copy"
for name in lo-fi_vinyl1 lo-fi_vinyl2 lo-fi_vinyl3 vinyl_hum; do
  [ -s "$prefix/share/tampod/$name.flac" ] || fail "no share/tampod/$name.flac in the installed copy"
done

# One second of a tone, the source of both exports.
source="$work/tone.wav"
ffmpeg -v error -f lavfi -i "sine=f=440:sample_rate=44100:duration=1" -ac 2 "$source" \
  || fail "ffmpeg could not make the source"

# Copied, not linked: the samples are looked for beside the executable's real path.
export_from() {
  local bin=$1
  mkdir -p "$bin" "$work/store"
  cp "$export_file" "$bin/export_file"
  "$bin/export_file" "$work/store" "$source" "$work/$(basename "$(dirname "$bin")").wav" wav 16 treated
}

# Without the samples beside it the export refuses, so the one below proves they were found.
if said=$(export_from "$work/bare/bin" 2>&1); then
  fail "an export with Vinyl and Hum succeeded without the samples: $said"
fi
case "$said" in
*"Vinyl sample is missing"*) ;;
*) fail "an export without the samples failed for another reason: $said" ;;
esac

frames=$(export_from "$prefix/bin" 2>"$work/export.log") || {
  cat "$work/export.log" >&2
  fail "the export with Vinyl and Hum from the installed copy failed"
}
[ "$frames" = 44100 ] || fail "the export from the installed copy wrote $frames frames, not 44100"
[ -s "$work/prefix.wav" ] || fail "the export from the installed copy wrote no file"
echo "installed copy: program, four samples, export with Vinyl and Hum of $frames frames"
