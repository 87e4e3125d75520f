#!/usr/bin/env bash
# Each folder of the program may include only its own layer and the layers below it:
#   core < serial, links, widgets < mbus < terminal < app
# Prints every include that breaks the rule and fails then. (The build holds the same line
# for Qt: a library below the windows does not see the widget headers at all.)
set -u
cd "$(dirname "${BASH_SOURCE[0]}")/.."

may_include() {
    case "$1" in
        core) echo "core" ;;
        serial) echo "core serial" ;;
        links) echo "core links" ;;
        widgets) echo "core widgets" ;;
        mbus) echo "core widgets mbus" ;;
        terminal) echo "core serial links widgets mbus terminal" ;;
        app) echo "core serial links widgets mbus terminal app" ;;
    esac
}

broken=0
for dir in core serial links widgets mbus terminal app; do
    allowed=" $(may_include "$dir") "
    while IFS=: read -r file line target; do
        folder="${target%%/*}"
        if [[ "$allowed" != *" $folder "* ]]; then
            echo "$file:$line: $dir/ may not include $target"
            broken=1
        fi
    done < <(grep -Hn '^#include "' "$dir"/*.cpp "$dir"/*.h 2>/dev/null |
             sed -E 's/^([^:]*):([0-9]+):#include "([^"]*)".*/\1:\2:\3/')
done
exit "$broken"
