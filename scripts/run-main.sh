#!/usr/bin/env bash
# Builds the optimised release, then runs cache_baseline ("before") and
# cache_check ("after") and sets their reports side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
exec build/release/compare_programs build/release/cache_baseline \
  build/release/cache_check
