#!/usr/bin/env bash
# Checks every C++ file of the tree against the committed .clang-format and
# lists those that differ; exit status 1 when there are any, 0 when all are
# clean. Fix them with:  clang-format -i FILE...
# The files are git's tracked *.cpp and *.h; outside a git checkout (an
# exported tree) every *.cpp and *.h below the source folder but the build
# folders and node_modules.
# CLANG_FORMAT names another clang-format than the one on PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null 2>&1; then
  echo "check-format: $format not found (scripts/install-deps.sh test installs it)" >&2
  exit 2
fi

files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r -d '' file; do
    [ -f "$file" ] && files+=("$file")
  done < <(git ls-files -z -- '*.cpp' '*.h')
else
  while IFS= read -r -d '' file; do
    files+=("${file#./}")
  done < <(find . \( -path ./build -o -path './build-*' -o -name node_modules -o -name .git \) -prune \
    -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
fi

differ=()
for file in "${files[@]}"; do
  if ! "$format" --style=file "$file" | cmp -s - "$file"; then
    differ+=("$file")
  fi
done

if [ ${#differ[@]} -gt 0 ]; then
  echo "check-format: ${#differ[@]} of ${#files[@]} C++ files differ from .clang-format ($("$format" --version)):"
  printf '  %s\n' "${differ[@]}"
  echo "Fix them with: $format -i FILE..."
  exit 1
fi
echo "check-format: ${#files[@]} C++ files match .clang-format"
