# Sourced by the project's scripts: the Debian packages they need, one set per purpose, and
# their installation. Nothing is installed when all are there already (so a developer without
# root can run the scripts once set up). No other file keeps a list of packages.

# Configuring and building the linux preset: the driver, vemox-host, vemox-sim, the test
# programs and the benchmarks. scripts/demo.sh installs this set alone.
packages_build=(
    cmake ninja-build g++
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libtomlplusplus-dev libcli11-dev nlohmann-json3-dev libmosquitto-dev
    libmodbus-dev libsystemd-dev libncurses-dev
)
# What the linux preset's tests add: the MQTT broker, its clients and openssl for the
# gateway's end-to-end tests, file and dpkg-dev for making the Debian package, systemd for
# checking its service unit, tmux for the live view in a real terminal, mbpoll and pymodbus as
# the Modbus TCP gateway's clients.
packages_tests=(
    mosquitto mosquitto-clients openssl file dpkg-dev systemd tmux mbpoll python3-pymodbus
)
# A compiler cache: the test command builds five presets, and with the cache a run after a
# small change rebuilds in minutes. Nothing needs it; a machine without it builds in full.
packages_cache=(ccache)
# The formatting check of every C++ file git tracks.
packages_format=(git clang-format-14)
# The Windows builds: mingw-w64 for both widths, with the binutils whose objdump reads the
# export and import tables.
packages_windows=(
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
)
# Running the Windows tests: 64-bit Wine, a virtual display for the pages, python3 for the
# checks of the Wine host test.
packages_wine=(wine64 xvfb xauth python3)
# 32-bit Wine comes from the i386 architecture, so its index can fail apart from the others.
packages_wine32=(wine32:i386)
# Fuzzing: clang with libFuzzer and the sanitizers' runtimes.
packages_fuzz=(clang-14 libclang-rt-14-dev)

# packages_of <set>...: the packages of the named sets (build, tests, windows, ...), one a line.
packages_of() {
    local set list
    for set in "$@"; do
        list="packages_$set[@]"
        printf '%s\n' "${!list}"
    done
}

# package_installed <package>
package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# apt_update: a mirror in mid-sync fails one index for a while, so apt-get update gets three
# tries with a pause between (VEMOX_APT_PAUSE seconds, default 30). After the last, the lists
# apt has are used anyway: the packages they do hold can still be installed.
apt_update() {
    local try
    for try in 1 2 3; do
        apt-get update && return 0
        echo "apt-get update failed (try $try of 3)" >&2
        [ "$try" -eq 3 ] || sleep "${VEMOX_APT_PAUSE:-30}"
    done
    echo "Going on with the package lists apt has." >&2
}

# apt_reason <package> <apt-get output file>: apt's own reason in one line: the package's own
# unmet dependency when apt names one, else apt's first error.
apt_reason() {
    local line
    line=$(grep -m1 -F " $1 : " "$2" || grep -m1 -E '^E: ' "$2" || tail -n 1 "$2")
    echo "$line" | sed -E 's/^ +//'
}

# install_missing PACKAGE...: installs those that are not installed yet. When some cannot be,
# it installs all the others, prints each that could not be with apt's reason (one line
# each, also kept in packages_failed), and returns 1; the caller decides from what is
# present what can still run.
packages_failed=()
install_missing() {
    local missing=() p
    for p in "$@"; do
        package_installed "$p" || missing+=("$p")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "All required packages are installed."
        return 0
    fi
    echo "Missing packages: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Run as root (or install them first): apt-get install ${missing[*]}" >&2
        packages_failed=("${missing[@]/%/: not root}")
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    # A package of another architecture (wine32:i386) is found only once dpkg knows that
    # architecture; adding it is needed once per machine.
    local arch
    for p in "${missing[@]}"; do
        arch="${p##*:}"
        if [ "$arch" != "$p" ] && [ "$arch" != "$(dpkg --print-architecture)" ] &&
            ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            echo "Adding the $arch architecture"
            dpkg --add-architecture "$arch"
        fi
    done
    apt_update
    # Another apt (an unattended upgrade) may hold the lock for a while: wait for it.
    local apt_install=(apt-get install -y -o DPkg::Lock::Timeout=600)
    "${apt_install[@]}" "${missing[@]}" </dev/null && return 0
    # apt refuses the whole list for one package it cannot install: try each on its own, so
    # that everything installable is installed and each failure keeps its own reason.
    local log failed=()
    log=$(mktemp)
    for p in "${missing[@]}"; do
        package_installed "$p" && continue
        if ! "${apt_install[@]}" "$p" </dev/null >"$log" 2>&1; then
            failed+=("$p: $(apt_reason "$p" "$log")")
        fi
    done
    rm -f "$log"
    [ "${#failed[@]}" -eq 0 ] && return 0
    packages_failed=("${failed[@]}")
    echo "Could not install:" >&2
    printf '  %s\n' "${failed[@]}" >&2
    return 1
}
