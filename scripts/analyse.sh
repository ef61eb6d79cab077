#!/usr/bin/env bash
# Static analysis of the program's sources: clang-tidy with the checks in
# .clang-tidy over the native (POSIX) build, and cppcheck over all of src/,
# the Win32 platform layer included. Fails on any finding of either.
set -euo pipefail
cd "$(dirname "$0")/.."

# The compile commands of the native build; configuring is enough.
cmake --preset analyse >/dev/null

# clang-tidy: the sources that the native build compiles, which leaves out
# src/platform/win32 (its Windows headers are not here). g++ compiles C++17
# by default, so CMake passes no -std flag; clang's default is older.
python3 - build/analyse/compile_commands.json "$(pwd)/src/" <<'EOF' >build/analyse/tidy-files.txt
import json, sys
for entry in sorted(json.load(open(sys.argv[1])), key=lambda entry: entry["file"]):
    if entry["file"].startswith(sys.argv[2]):
        print(entry["file"])
EOF
echo "clang-tidy: $(wc -l <build/analyse/tidy-files.txt) files"
xargs -P 2 -n 4 clang-tidy -p build/analyse --quiet --extra-arg=-std=gnu++17 \
  <build/analyse/tidy-files.txt 2> >(grep -Ev '^[0-9]+ warnings? generated\.$' >&2)

# cppcheck needs no compile commands, so it reads every source, Win32 ones
# too; Windows headers it cannot find are left out of its model.
echo "cppcheck: src/"
cppcheck --quiet --std=c++17 --language=c++ -I src --enable=warning,performance,portability \
  --error-exitcode=1 -j 2 src/
