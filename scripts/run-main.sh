#!/usr/bin/env bash
# Installs what the programs need if it is missing, builds the optimised
# release of the three programs (nothing else), then runs cache_baseline
# ("before") and cache_check ("after"): shows everything both print, then
# sets their reports side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh programs
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
exec build/release/compare_programs build/release/cache_baseline \
  build/release/cache_check
