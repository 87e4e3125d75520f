#!/usr/bin/env bash
# Builds the terminal the way another project embeds it: a plain Release build (no presets,
# no tests, no warnings-as-errors), added with add_subdirectory() to an outer CMake project
# whose own program links trelmo_lib and uses it. Exits non-zero when any step fails.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="${1:-$ROOT/build/subproject}"
JOBS="${JOBS:-2}"
# The outer project's build tree is WORK, as deep below the checkout as a preset's build
# (build/package): the terminal's sources compile there with the same relative paths, so
# ccache serves them from the package build when the flags match (.ci/run leaves -Werror out
# of ccache's hash).
rm -rf "$WORK"
mkdir -p "$WORK/outer"
cat > "$WORK/outer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(outer LANGUAGES CXX)
add_subdirectory("$ROOT" trelmo)
add_executable(outer main.cpp)
set_target_properties(outer PROPERTIES OUTPUT_NAME outer-program)
target_link_libraries(outer PRIVATE trelmo_lib)
CMAKE
cat > "$WORK/outer/main.cpp" <<'CPP'
#include <QByteArray>
#include <QString>

#include "core/Codec.h"
#include "core/commands/CommandString.h"

// Parses a command string with the terminal's own rules: "#41#42C" is the bytes A, B, C.
int main() {
    const auto bytes = trelmo::parseCommandString(QStringLiteral("#41#42C"));
    return bytes && *bytes == QByteArray("ABC") && trelmo::codec::toByte(QChar(0x20AC)) == 0x80
               ? 0
               : 1;
}
CPP
cmake -S "$WORK/outer" -B "$WORK" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build "$WORK" -j "$JOBS"
"$WORK/outer-program"
test -x "$WORK/trelmo/trelmo"
echo "subproject build: ok"
