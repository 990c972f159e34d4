#!/bin/bash
# Builds the copy fuzzer (preset fuzz) and runs it for a bounded time, from a copy of
# the seed corpus so that new inputs never land in the repository.
#
#   container/fuzz/run_fuzz.sh [SECONDS]     default 60
#
# Exits non-zero on a finding; the reproducer is then kept and its path and bytes are
# printed. Reproduce one with: build/fuzz/container/fuzz/copy_fuzzer REPRODUCER
set -euo pipefail

seconds=${1:-60}
repo=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/tinselpair-fuzz-XXXXXX")
cp -r container/fuzz/corpus "$work/corpus"
# Every run writes and removes a few files: in memory that is some twenty times faster
# than on disk. The fuzzer makes its own folder in here, which a crash leaves behind.
files=$(mktemp -d "$([ -w /dev/shm ] && echo /dev/shm || echo "$work")/tinselpair-fuzz-XXXXXX")
# The corpus copy goes too, unless it holds a reproducer of a finding.
trap 'rm -rf "$files"; compgen -G "$work/*-*" >/dev/null || rm -rf "$work"' EXIT

status=0
TMPDIR="$files" build/fuzz/container/fuzz/copy_fuzzer \
    -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=1024 -timeout=10 \
    -artifact_prefix="$work/" -print_final_stats=1 "$work/corpus" || status=$?

if [ "$status" -ne 0 ]; then
    for reproducer in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
        [ -e "$reproducer" ] || continue
        echo "finding: $reproducer"
        od -A d -t x1 "$reproducer"
    done
    exit "$status"
fi
