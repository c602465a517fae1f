#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing:
#
#   scripts/install-deps.sh            # everything any preset, test or check uses
#   scripts/install-deps.sh programs   # what building and running the programs needs
#
# It never removes, replaces or upgrades an installed package: apt-get stops
# rather than remove one. apt-get runs as root, through sudo when the script
# runs as another user; without sudo it says what to run as root.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-tidy
          libgtest-dev libgmock-dev libbenchmark-dev libleveldb-dev librocksdb-dev
          valgrind
          # examples/markdown_layout and its default documents
          pkg-config libcmark-gfm-dev libcmark-gfm-extensions-dev libmd4c-dev
          libharfbuzz-dev libfreetype-dev zlib1g-dev fonts-dejavu-core
          docker-doc
          # the layout example's capacity curve, drawn as an SVG picture
          gnuplot-nox)
# The release preset: the three programs of ./scripts/run-main.sh.
program_packages=(cmake ninja-build g++)

case "${1:-all}" in
  all) ;;
  programs) packages=("${program_packages[@]}") ;;
  *)
    echo "usage: $0 [all|programs]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "${package}" 2>/dev/null || true)
  [[ "${status}" == "install ok installed" ]] || missing+=("${package}")
done
((${#missing[@]} == 0)) && exit 0

if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "run as root: apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  --no-install-recommends --no-upgrade --no-remove "${missing[@]}"
