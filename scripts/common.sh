# Shared by run.sh and test.sh: install missing Debian packages, then build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

RUNTIME_PACKAGES=(qt6-base-dev libespeak-ng-dev espeak-ng-data flite1-dev libpulse-dev libmd-dev
                  libzip-dev libpoppler-qt6-dev libhunspell-dev libpcre2-dev libtag1-dev
                  libavformat-dev libavcodec-dev libavutil-dev
                  libsndfile1-dev libflac-dev libmp3lame-dev libsoxr-dev festival-dev festival festvox-us-slt-hts festvox-kallpc16k
                  cmake ninja-build g++ pkg-config fonts-liberation2 librsvg2-bin)
TEST_PACKAGES=(libgtest-dev pulseaudio pulseaudio-utils sox espeak-ng flite
               binutils-mingw-w64-x86-64 desktop-file-utils appstream file dpkg-dev
               xvfb x11-utils xdotool libx11-dev ffmpeg hunspell-en-us poppler-utils
               at-spi2-core dbus-daemon python3-gi gir1.2-atspi-2.0 python3-mutagen
               valgrind epubcheck)
# RHVoice's voices come from Debian's non-free section: its library and header (the build
# compiles the family only where the header is found) and its English voices; RHVoice-test
# (in rhvoice) is the reference of its test and benchmarks.
RHVOICE_PACKAGES=(librhvoice-dev rhvoice-english)
RHVOICE_TEST_PACKAGES=(rhvoice)
NONFREE_SOURCES=/etc/apt/sources.list.d/parlenmaker-non-free.sources
# Only the fuzz targets (scripts/fuzz.sh) are built with clang and its libFuzzer.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=() installed p
    # One query for all of them: dpkg-query starts slowly, and a loaded machine makes a
    # query per package take seconds.
    installed="$(dpkg-query -W -f='${Package}\t${Status}\n' "$@" 2>/dev/null |
        awk -F'\t' '$2 == "install ok installed" { print $1 }')" || true
    for p in "$@"; do
        grep -qxF "$p" <<<"$installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -qq \
        --no-install-recommends "${missing[@]}"
}

# True when apt already reads Debian's non-free component from some source.
nonfree_enabled() {
    local components
    components="$(apt-get indextargets --no-release-info --format '$(COMPONENT)' 2>/dev/null)" || true
    grep -qx non-free <<<"$components"
}

# How a user adds the non-free component, in one line.
nonfree_hint() {
    echo "RHVoice's voices are not installed: they are in Debian's non-free section; to add them, put 'non-free' beside 'main' in Debian's entry in /etc/apt/sources.list.d/debian.sources (or /etc/apt/sources.list) and run this again." >&2
}

# Enables the non-free component in a sources file of our own where no source has it yet;
# apt's lists are read again by install_missing, which then has packages to install.
enable_nonfree() {
    nonfree_enabled && return 0
    local codename
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    if [ -z "$codename" ] || ! grep -qx 'ID=debian' /etc/os-release; then
        echo "Not Debian: RHVoice's voices are not installed" >&2
        return 0
    fi
    echo "Enabling Debian's non-free component in $NONFREE_SOURCES (for RHVoice)"
    printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: non-free\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$codename" "$codename" | as_root tee "$NONFREE_SOURCES" >/dev/null
}

configure_tree() {
    local dir="$1"; shift
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
}

build_tree() {
    cmake --build "$ROOT/$1" -j"$(nproc)"
}

build() {
    configure_tree "$@"
    build_tree "$1"
}

# stage NAME COMMAND...: runs a step of the set-up or the suite and notes how long it took,
# for the closing note of stage_report.
STAGE_NAMES=()
STAGE_SECONDS=()
stage() {
    local name="$1" start=$SECONDS rc=0
    shift
    echo "=== $name ==="
    "$@" || rc=$?
    STAGE_NAMES+=("$name")
    STAGE_SECONDS+=($((SECONDS - start)))
    return $rc
}

# The time of each stage so far, one line, then the machine's load.
stage_report() {
    local i line=""
    [ ${#STAGE_NAMES[@]} -gt 0 ] || return 0
    for i in "${!STAGE_NAMES[@]}"; do
        line+="${line:+, }${STAGE_NAMES[$i]} $(format_seconds "${STAGE_SECONDS[$i]}")"
    done
    echo "Stage times: $line; in all $(format_seconds "$SECONDS")"
    echo "Load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
}

format_seconds() {
    if [ "$1" -ge 60 ]; then echo "$(($1 / 60)) min $(($1 % 60)) s"; else echo "$1 s"; fi
}
