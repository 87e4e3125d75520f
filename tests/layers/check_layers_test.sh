#!/usr/bin/env bash
# The layer check must fail where the layers break: a scratch copy of the program's folders gets
# one bad include at a time, and the check has to name it and exit 1; the untouched copy passes.
set -u -o pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failed=0

fresh_copy() {
    rm -rf "$scratch/root"
    mkdir -p "$scratch/root"
    (cd "$src" && cp -r core serial links widgets mbus terminal app "$scratch/root/")
}

# expect_fault DESCRIPTION EXPECTED_TEXT: runs the check on the scratch copy.
expect_fault() {
    local out
    out="$("$src/scripts/check-layers.sh" "$scratch/root" 2>&1)"
    local rc=$?
    if [[ $rc -ne 1 || "$out" != *"$2"* ]]; then
        echo "FAIL: $1: exit $rc, expected 1 and \"$2\" in:"
        echo "$out"
        failed=1
    else
        echo "ok: $1"
    fi
}

fresh_copy
if ! "$src/scripts/check-layers.sh" "$scratch/root" >/dev/null; then
    echo "FAIL: the untouched copy does not pass"
    failed=1
fi

fresh_copy
echo '#include "widgets/Dialogs.h"' >>"$scratch/root/core/receive/PaneModel.cpp"
expect_fault "the core includes a window layer" \
    "core/receive/PaneModel.cpp:$(wc -l <"$scratch/root/core/receive/PaneModel.cpp"): core/receive/ may not include widgets/Dialogs.h"

fresh_copy
echo '#include "core/capture/LogWriter.h"' >>"$scratch/root/core/commands/CommandString.h"
expect_fault "a core folder includes one above it in the core" \
    "core/commands/ may not include core/capture/LogWriter.h"

fresh_copy
echo '#include "terminal/control/ReceivePath.h"' >>"$scratch/root/serial/VaComm.cpp"
expect_fault "the serial layer includes a controller" "serial/ may not include terminal/control/ReceivePath.h"

fresh_copy
echo '#include <QWidget>' >>"$scratch/root/terminal/control/ReceivePath.cpp"
expect_fault "a controller uses a widget" "terminal/control/ may not use QtWidgets"

fresh_copy
echo '#include "links/WinSocket.h"' >>"$scratch/root/links/SocketErrors.h"
expect_fault "two files of a folder include each other" "links/: files include each other in a circle"

fresh_copy
mkdir -p "$scratch/root/core/stray"
echo 'int stray;' >"$scratch/root/core/stray/Stray.cpp"
expect_fault "a folder the table does not know" "core/stray/: a folder the layer table does not know"

exit "$failed"
