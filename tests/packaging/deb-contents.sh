#!/usr/bin/env bash
# The Debian package as a user gets it: cpack makes it from this build; its file list and
# dependencies are checked, and from a tree extracted with dpkg-deb its vemox-host prints the
# version and reads its own vemox-sim's demo line with the packaged example.
# Usage: deb-contents.sh <build dir> <version>
set -euo pipefail
build="$1"
version="$2"

# shellcheck source=../../scripts/lib/sim.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/sim.sh"
work=$(mktemp -d)
cleanup() {
    stop_sim
    rm -rf "$work"
}
trap cleanup EXIT
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
deb="$work/out/vemox_${version}_$(dpkg --print-architecture).deb"

failed=0
check() { # check <description> <command...>
    if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}
check "the package is named $(basename "$deb")" [ -f "$deb" ]
[ -f "$deb" ] || exit 1
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
echo "files: $files"
check "the package holds the host, the simulator, the driver, the example and the service" [ "$files" = \
    "./etc/vemox/vemox.toml ./lib/systemd/system/vemox-host.service ./usr/bin/vemox-host ./usr/bin/vemox-sim ./usr/lib/vemox/libvemox.so ./usr/lib/vemox/vemox-host ./usr/share/doc/vemox/examples/demo.toml " ]
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
check "it depends on the C and C++ runtimes" \
    grep -q 'libc6 (>=.*libstdc++6 (>=' <<<"$depends"
check "it depends on the MQTT client library" grep -q 'libmosquitto1 (>=' <<<"$depends"
check "it suggests a broker" [ "$(dpkg-deb -f "$deb" Suggests)" = "mosquitto, mosquitto-clients" ]

dpkg-deb -x "$deb" "$work/root"
check "vemox-host --version prints $version" [ "$("$work/root/usr/bin/vemox-host" --version)" = "$version" ]

check "the packaged simulator starts" start_sim "$work" "$work/root/usr/bin/vemox-sim" --demo
check "the packaged host finds its driver and reads the demo line" \
    "$work/root/usr/bin/vemox-host" -c "$work/root/usr/share/doc/vemox/examples/demo.toml" \
    --device "COM1=$pty" read --once
exit "$failed"
