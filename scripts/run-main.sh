#!/usr/bin/env bash
# Builds the optimised release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release
