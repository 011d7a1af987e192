#!/usr/bin/env bash
# Fails when a tracked C++ source differs from the repository's .clang-format; names each one and
# the command that formats it. Usage: check_format.sh [ROOT]
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2
command -v clang-format >/dev/null || { echo "clang-format is missing (./setup installs it)"; exit 2; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
[ ${#files[@]} -gt 0 ] || { echo "no tracked sources found (not a git checkout?)"; exit 2; }
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]})); then
  printf '%s\n' "${bad[@]}"
  echo "${#bad[@]} source(s) differ from .clang-format: clang-format -i ${bad[*]}"
  exit 1
fi
echo "${#files[@]} sources follow .clang-format"
