#!/usr/bin/env bash
# The batch tool takes paths as a shell gives them, relative to the folder it runs in, and a
# store it cannot use ends it with exit status 1 and a sentence, not an abort.
#
#   batch_to_folder_test.sh BATCH_TO_FOLDER
set -euo pipefail
tool=$1
# Under the sanitizers: this is about the tool's answers, not its leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "batch_to_folder_test: $*" >&2
  exit 1
}

cd "$work"
ffmpeg -v error -f lavfi -i "sine=f=440:sample_rate=44100:duration=1" -ac 2 tone.wav \
  || fail "ffmpeg could not make the source"
mkdir store out
"$tool" store out tone.wav >saved.log 2>&1 || fail "relative paths: exit $?: $(cat saved.log)"
grep -q '^Saved: ' saved.log || fail "relative paths: $(cat saved.log)"
[ -s out/tone-export.flac ] || fail "relative paths: nothing in the output folder"

status=0
"$tool" tone.wav out tone.wav >refused.log 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "a file as the store: exit $status, not 1"
grep -q '[[:alpha:]]' refused.log || fail "a file as the store: no sentence"
echo "batch_to_folder_test: passed"
