#!/usr/bin/env bash
# The layers, folder by folder. Each folder of the program (subfolders are folders of their
# own) may include the program's headers only from the folders of its row below, and Qt's only
# from the modules of its row; a folder the table does not know is a fault too. Inside a folder
# no files include each other in a circle, directly or through others.
#
#   scripts/check-layers.sh [ROOT]      (ROOT: a checkout, this one by default)
#
# Prints every fault as FILE:LINE: ... and exits 1 when there is any. (The build holds the
# same line for the libraries: a library sees only the folders of the libraries it links.)
set -u -o pipefail
ROOT="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
cd "$ROOT" || exit 2

# The core's logic (one library with its receive, commands and capture folders). Inside it
# the folders stand in a line: commands (strings and files) under receive (the pane, which
# finds "#hh" texts as the send box reads them) under capture (which writes the pane's lines).
core="core core/receive core/commands core/capture"
declare -A may qt
may[core]="core"
may[core/commands]="core core/commands"
may[core/receive]="core core/commands core/receive"
may[core/capture]="core core/commands core/receive core/capture"
may[core/mbus]="core core/mbus"
may[serial]="core serial"
may[links]="core links"
may[widgets]="$core widgets"
may[mbus]="$core core/mbus widgets mbus"
may[terminal/control]="$core serial links terminal/control"
may[terminal]="$core serial links widgets terminal/control terminal"
may[app]="$core core/mbus serial links widgets mbus terminal/control terminal app"
for f in core core/receive core/commands core/capture core/mbus serial terminal/control; do
    qt[$f]="QtCore"
done
qt[links]="QtCore QtNetwork"
qt[widgets]="QtCore QtGui QtWidgets QtPrintSupport"
qt[mbus]="QtCore QtGui QtWidgets"
qt[terminal]="QtCore QtGui QtWidgets QtPrintSupport QtNetwork QtSerialPort"
qt[app]="QtCore QtGui QtWidgets QtPrintSupport QtNetwork QtSerialPort"

# Which Qt module a header such as <QTcpSocket> belongs to, from Qt's include folders.
qt_root=""
for dir in /usr/include/*/qt6 /usr/include/qt6; do
    [[ -d "$dir/QtCore" ]] && { qt_root="$dir"; break; }
done
[[ -n "$qt_root" ]] || echo "check-layers: no Qt include folder found; Qt modules not checked" >&2
declare -A module_of
qt_module() {
    if [[ -z "${module_of[$1]+set}" ]]; then
        module_of[$1]=""
        for mod_dir in "$qt_root"/Qt*; do
            [[ -f "$mod_dir/$1" ]] && { module_of[$1]="${mod_dir##*/}"; break; }
        done
    fi
    module="${module_of[$1]}"
}

broken=0
fault() {
    echo "$*"
    broken=1
}

mapfile -t folders < <(find core serial links widgets mbus terminal app \
                           \( -name '*.h' -o -name '*.cpp' \) -printf '%h\n' | sort -u)
for dir in "${folders[@]}"; do
    if [[ -z "${may[$dir]+set}" ]]; then
        fault "$dir/: a folder the layer table does not know (add it to scripts/check-layers.sh)"
        continue
    fi
    allowed=" ${may[$dir]} "
    modules=" ${qt[$dir]} "
    edges=()
    for file in "$dir"/*.h "$dir"/*.cpp; do
        [[ -f "$file" ]] || continue
        lineno=0
        while IFS= read -r line; do
            lineno=$((lineno + 1))
            if [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
                target="${BASH_REMATCH[1]}"
                # A name without a folder is the file's own folder's (or a generated file).
                [[ "$target" == */* ]] || target="$dir/$target"
                folder="${target%/*}"
                if [[ -f "$target" && "$folder" == "$dir" ]]; then
                    edges+=("$file $target")
                    [[ "$target" == "$file" ]] && fault "$file:$lineno: includes itself"
                fi
                if [[ "$allowed" != *" $folder "* && -e "$folder" ]]; then
                    fault "$file:$lineno: $dir/ may not include $target (it may include: ${may[$dir]})"
                fi
            elif [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Qt[A-Za-z]+/)?(Q[A-Za-z0-9_]+)\> ]]; then
                prefix="${BASH_REMATCH[1]}"
                header="${BASH_REMATCH[2]}"
                mod="${prefix%/}"
                if [[ -z "$mod" && -n "$qt_root" ]]; then
                    qt_module "$header"
                    mod="$module"
                fi
                if [[ -n "$mod" && "$modules" != *" $mod "* ]]; then
                    fault "$file:$lineno: $dir/ may not use $mod (<$header>; it may use: ${qt[$dir]})"
                fi
            fi
        done <"$file"
    done
    # Circles among the folder's files: tsort names the files of each one it finds.
    if ((${#edges[@]})); then
        if ! loop="$(printf '%s\n' "${edges[@]}" | tsort 2>&1 >/dev/null)"; then
            members="$(grep -v 'input contains a loop' <<<"$loop" | sed 's/^tsort: //' | tr '\n' ' ')"
            fault "$dir/: files include each other in a circle: $members"
        fi
    fi
done

if ((broken)); then
    echo "check-layers: the layers are broken (see above)" >&2
else
    echo "check-layers: ${#folders[@]} folders, every include within its layers, no circles"
fi
exit "$broken"
