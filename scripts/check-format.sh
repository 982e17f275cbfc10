#!/usr/bin/env bash
# Checks every tracked C++ source and header against the project's
# .clang-format and names the files that differ (`clang-format -i FILE`
# formats one). Takes seconds; CI runs it first.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages clang-format
cd "$VELMORA_ROOT"
files=()
while IFS= read -r -d '' file; do
    files+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h')
differ=()
for file in "${files[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || differ+=("$file")
done
if [ ${#differ[@]} -ne 0 ]; then
    echo "Not formatted as .clang-format says (clang-format -i FILE):" >&2
    printf '  %s\n' "${differ[@]}" >&2
    exit 1
fi
echo "Formatting: all ${#files[@]} C++ files as .clang-format says ($(clang-format --version))."
