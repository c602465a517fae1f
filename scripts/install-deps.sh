#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-tidy
          libgtest-dev libgmock-dev libbenchmark-dev libleveldb-dev valgrind
          # examples/markdown_layout and its default documents
          pkg-config libcmark-gfm-dev libcmark-gfm-extensions-dev
          libharfbuzz-dev libfreetype-dev zlib1g-dev fonts-dejavu-core
          docker-doc)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "${package}" >/dev/null 2>&1 || missing+=("${package}")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
