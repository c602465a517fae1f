#!/usr/bin/env bash
# Fuzzes the cache against its reference model for longer than the bounded
# CTest run does:
#
#   scripts/fuzz-long.sh [SECONDS] [LIBFUZZER_FLAG...]
#
# SECONDS defaults to 600. The run starts from the committed corpus and from
# build/fuzz/long-corpus, where it keeps what it finds so the next run goes
# on from there; the committed corpus is never written. A failing input is
# saved in build/fuzz/long-artifacts/ and can be replayed with
#   build/fuzz/tests/fuzz/measurement_cache_fuzzer FILE
# At exit the fuzzer prints how many cache calls it made.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-600}"
if [[ ! "${seconds}" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [SECONDS] [LIBFUZZER_FLAG...]" >&2
  exit 2
fi
shift $(($# > 0 ? 1 : 0))

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
mkdir -p build/fuzz/long-corpus build/fuzz/long-artifacts
exec build/fuzz/tests/fuzz/measurement_cache_fuzzer \
  -max_total_time="${seconds}" -rss_limit_mb=4096 -timeout=20 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/long-artifacts/ \
  "$@" build/fuzz/long-corpus tests/fuzz/corpus
