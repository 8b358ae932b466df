#!/usr/bin/env bash
# The Debian package as a service: its unit as packaged passes systemd-analyze verify, and
# installed into an empty root with dpkg it brings the configuration as a conffile that
# `vemox-host check` accepts, and the system user in dialout; a purge takes the user away.
# Usage: deb-service.sh <build dir> <version>
set -euo pipefail
build="$1"
version="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
deb="$work/out/vemox_${version}_$(dpkg --print-architecture).deb"

failed=0
check() { # check <description> <command...>
    if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}
# The unit is verified inside the unpacked package, beside the system's own units and the
# kill that reloads; verify only warns about a key it cannot parse, so any word fails.
unpacked="$work/unpacked"
dpkg-deb -x "$deb" "$unpacked"
cp -rn /lib/systemd/system/. "$unpacked/lib/systemd/system/"
mkdir -p "$unpacked/bin" && cp /bin/kill "$unpacked/bin/kill"
verify() {
    local said
    said=$(systemd-analyze verify --root="$unpacked" "$unpacked/lib/systemd/system/vemox-host.service" 2>&1) &&
        [ -z "$said" ] || { echo "$said"; return 1; }
}
check "systemd-analyze verify accepts the unit" verify

# Installing runs the maintainer scripts, which only root may.
[ "$(id -u)" -eq 0 ] || { echo "skipped: the install needs root"; exit "$((failed ? 1 : 77))"; }
root="$work/root"
mkdir -p "$root/etc" "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/etc/shadow" "$root/etc/gshadow"
cp /usr/share/base-passwd/passwd.master "$root/etc/passwd"
cp /usr/share/base-passwd/group.master "$root/etc/group"
# The root has no libraries: the dependencies are the package's own test's business.
dpkg=(dpkg --root="$root" --force-script-chrootless --force-depends)
check "the package installs into an empty root" "${dpkg[@]}" -i "$deb"
check "/etc/vemox/vemox.toml is a conffile" \
    grep -qx /etc/vemox/vemox.toml "$root/var/lib/dpkg/info/vemox.conffiles"
check "the system user vemox exists" grep -q '^vemox:x:[0-9]*:[0-9]*:.*:/usr/sbin/nologin$' \
    "$root/etc/passwd"
check "vemox is in dialout" grep -Eq '^dialout:[^:]*:[0-9]+:(.*,)?vemox(,|$)' "$root/etc/group"
check "the service is not enabled" [ ! -e "$root/etc/systemd/system/multi-user.target.wants" ]
check "vemox-host check accepts the packaged configuration" \
    "$root/usr/bin/vemox-host" check "$root/etc/vemox/vemox.toml"
mkdir -p "$root/var/lib/vemox" && touch "$root/var/lib/vemox/weights.csv"
check "the package purges" "${dpkg[@]}" --purge vemox
check "the purge removed the user and its group" \
    bash -c "! grep -q '^vemox:' '$root/etc/passwd' '$root/etc/group'"
check "the purge removed the configuration" [ ! -e "$root/etc/vemox/vemox.toml" ]
check "the purge kept the recordings" [ -f "$root/var/lib/vemox/weights.csv" ]
exit "$failed"
