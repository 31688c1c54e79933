#!/usr/bin/env bash
# Installs everything the builds and tests need on a bare Debian 12 machine (run as root).
# Idempotent and quiet: when every package and locale is already there it touches nothing and
# takes about a second.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format
    zlib1g-dev libgtest-dev googletest libbenchmark-dev
    mingw-w64 g++-mingw-w64-i686-posix libz-mingw-w64-dev
    wine wine32 xvfb x11-utils xdotool imagemagick fonts-wqy-microhei
    locales python3 python3-pefile zip unzip osslsigncode openssl
    libarchive-tools p7zip-full python3-numpy python3-matplotlib valgrind
)
# Locales as `locale -a` spells them, and as /etc/locale.gen spells them.
LOCALES=(zh_CN.utf8 en_US.utf8)
LOCALE_GEN_LINES=("zh_CN.UTF-8 UTF-8" "en_US.UTF-8 UTF-8")

log() { echo "install-deps: $*"; }

# A mirror in the middle of a sync fails an index download now and then; try again, and when an
# index still fails go on with what was fetched: the install itself tells whether it sufficed.
apt_update() {
    local attempt
    for attempt in 1 2 3; do
        apt-get update -qq >/dev/null && return 0
        log "apt-get update failed (attempt $attempt)"
        sleep $((attempt * 10))
    done
    log "going on with the package lists as they are"
}

apt_install() {
    local attempt
    for attempt in 1 2; do
        apt-get install -y -qq "$@" >/dev/null && return 0
        log "apt-get install failed (attempt $attempt)"
        sleep $((attempt * 10))
        apt_update
    done
    # When the security lists of one architecture failed to load, the two architectures' newest
    # versions differ and wine32's libraries cannot match; the release's own versions always do.
    local release
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    log "installing the versions of $release itself"
    apt-get install -y -qq -t "$release" "$@" >/dev/null
}

missing_packages() {
    local pkg status
    for pkg in "${PACKAGES[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
        [[ "$status" == installed ]] || echo "$pkg"
    done
}

missing_locales() {
    local have loc
    have=$(locale -a 2>/dev/null || true)
    for loc in "${LOCALES[@]}"; do
        grep -qix "$loc" <<<"$have" || echo "$loc"
    done
}

need_root() {
    if [[ $(id -u) -ne 0 ]]; then
        log "must run as root to install: $*" >&2
        exit 1
    fi
}

# wine32 needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root "the i386 architecture"
    log "adding the i386 architecture"
    dpkg --add-architecture i386
    APT_UPDATE_NEEDED=1
fi

mapfile -t missing < <(missing_packages)
if ((${#missing[@]} > 0)); then
    need_root "${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    log "installing ${missing[*]}"
    apt_update
    # With recommended packages: Wine draws text and X windows with them (its fonts, XRender).
    apt_install "${missing[@]}"
elif [[ -n "${APT_UPDATE_NEEDED:-}" ]]; then
    apt_update
fi

mapfile -t missing < <(missing_locales)
if ((${#missing[@]} > 0)); then
    need_root "locales ${missing[*]}"
    log "generating locales ${missing[*]}"
    for line in "${LOCALE_GEN_LINES[@]}"; do
        if ! grep -qx "$line" /etc/locale.gen 2>/dev/null; then
            # Uncomment the line when it is there, else add it.
            if grep -qx "# *$line" /etc/locale.gen 2>/dev/null; then
                sed -i "s/^# *$line\$/$line/" /etc/locale.gen
            else
                echo "$line" >>/etc/locale.gen
            fi
        fi
    done
    locale-gen >/dev/null
    mapfile -t missing < <(missing_locales)
    if ((${#missing[@]} > 0)); then
        log "locales still missing: ${missing[*]}" >&2
        exit 1
    fi
fi

log "all dependencies present"
