#!/usr/bin/env bash
# Runs clang-tidy with the checked-in .clang-tidy, compiled as the clang
# preset compiles it, and fails on any warning:
#   ./scripts/tidy.sh          the cache and the programs, and their tests
#                              (cache/, baseline/, bench/, programs/, tools/,
#                              tests/ but the example's tests), as the test
#                              command runs it
#   ./scripts/tidy.sh --all    every .cc file of the project, the example's
#                              and the benchmarks' too (about twice as long)
# Configures the clang preset first if it has no compilation database yet.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
database=build/clang/compile_commands.json

case "${1:-}" in
  "") pathspecs=(cache baseline bench programs tools tests
                 ':!tests/markdown_layout') ;;
  --all) pathspecs=(.) ;;
  *) echo "usage: $0 [--all]" >&2; exit 2 ;;
esac

if [[ ! -f "${database}" ]]; then
  cmake --preset clang >/dev/null
fi

# Every tracked .cc file must be in the database: a file no target compiles
# would otherwise be skipped without a word. The one exception: the files of
# the markdown layout example and its tests when the example is not built at
# all (its libraries are optional), which are skipped with a note, and the
# consumer projects' own sources under tests/consumers/, which the consumer
# tests build outside this build (two must not compile at all).
example_built=0
grep -qF "\"file\": \"${root}/examples/" "${database}" && example_built=1
missing=0
files=()
while IFS= read -r file; do
  if grep -qF "\"file\": \"${root}/${file}\"" "${database}"; then
    files+=("${file}")
  elif ((example_built == 0)) &&
       [[ "${file}" == examples/* || "${file}" == tests/markdown_layout/* ]]; then
    echo "tidy: skipping ${file}: the example is not built (libraries missing)"
  elif [[ "${file}" == tests/consumers/* ]]; then
    continue
  else
    echo "tidy: ${file} is not in ${database}" >&2
    missing=1
  fi
done < <(git ls-files -- "${pathspecs[@]}" | grep '\.cc$')
((missing == 0)) || exit 1

# Two files at a time; xargs fails if any clang-tidy run does. The counts of
# warnings suppressed in system headers are dropped from the output.
set +e
printf '%s\0' "${files[@]}" |
  xargs -0 -P 2 -n 1 clang-tidy -p build/clang --quiet \
    --warnings-as-errors='*' 2>&1 |
  grep -v -E '^[0-9]+ warnings? generated\.$'
status=("${PIPESTATUS[@]}")
set -e
if ((status[1] != 0)); then
  echo "tidy: clang-tidy found problems" >&2
  exit 1
fi
echo "tidy: clean"
