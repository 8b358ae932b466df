# Sourced by the project's scripts: installs the Debian packages they need, and nothing when
# all are there already (so a developer without root can run them once set up).
# install_missing PACKAGE...
install_missing() {
    local missing=() p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "All required packages are installed."
        return 0
    fi
    echo "Missing packages: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Run as root (or install them first): apt-get install ${missing[*]}" >&2
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
    apt-get update
    apt-get install -y "${missing[@]}" </dev/null
}
