#!/usr/bin/env bash
# The folders are floors: each includes only itself and the floors below it, so a file's folder
# tells what it may touch. platform < contract < protocol < config < driver, and the reference
# host sits beside the driver on config (it drives the library only through its export). The
# simulator stands apart on platform alone, so that it can never share the driver's mistakes.
# The reference host is laid out the same way in wings, each a folder of host/ with its own
# floor: line < config < session < output < commission < gateway, and host/main.cpp on top,
# which only dispatches to the commands.
# Prints every include that crosses a floor the wrong way and exits 1 if there is any.
# Usage: bash scripts/check-layers.sh [source root, default: this tree]
set -euo pipefail
root="${1:-$(dirname "${BASH_SOURCE[0]}")/..}"
cd "$root"

declare -A allowed=(
    [platform]="platform"
    [contract]="platform contract"
    [protocol]="platform contract protocol"
    [config]="platform contract protocol config"
    [driver]="platform contract protocol config driver"
    [host]="platform contract protocol config host"
    [sim]="platform sim"
)
# Folders an include may name; anything else (a library's own folder) is not ours to judge.
floors=" platform contract protocol config driver host sim tests bench examples "

violations=0
for folder in platform contract protocol config driver host sim; do
    while IFS= read -r hit; do
        file="${hit%%:*}"
        rest="${hit#*:}"
        line="${rest%%:*}"
        target="$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*$/\1/' <<<"${rest#*:}")"
        if [[ "$floors" == *" $target "* && " ${allowed[$folder]} " != *" $target "* ]]; then
            echo "$file:$line: $folder/ may not include $target/ (allowed: ${allowed[$folder]})"
            violations=$((violations + 1))
        fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' "$folder" \
        --include='*.h' --include='*.cpp' --include='*.hpp' || true)
done

declare -A wing_allowed=(
    [line]="line"
    [config]="line config"
    [session]="line config session"
    [output]="line config session output"
    [commission]="line config session output commission"
    [gateway]="line config session output commission gateway"
)
wings=" line config session output commission gateway "
while IFS= read -r hit; do
    file="${hit%%:*}"
    rest="${hit#*:}"
    line="${rest%%:*}"
    wing="$(cut -d/ -f2 <<<"$file")"
    target="$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"host\/([^/"]+)\/.*$/\1/' <<<"${rest#*:}")"
    if [[ "$wings" != *" $wing "* ]]; then
        if [[ "$file" != host/main.cpp ]]; then
            echo "$file: host/ holds its wings' folders and main.cpp only"
            violations=$((violations + 1))
        fi
    elif [[ "$wings" != *" $target "* ]]; then
        echo "$file:$line: host/$target/ is no wing of the host"
        violations=$((violations + 1))
    elif [[ " ${wing_allowed[$wing]} " != *" $target "* ]]; then
        echo "$file:$line: host/$wing/ may not include host/$target/ (allowed: ${wing_allowed[$wing]})"
        violations=$((violations + 1))
    fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"host/' host \
    --include='*.h' --include='*.cpp' --include='*.hpp' || true)

if [ "$violations" -ne 0 ]; then
    echo "$violations include(s) cross a floor the wrong way" >&2
    exit 1
fi
echo "includes follow the floors: platform < contract < protocol < config < driver, host; sim apart;"
echo "the host's wings: line < config < session < output < commission < gateway < main.cpp"
