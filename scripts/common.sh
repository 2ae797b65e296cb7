# Shared by run.sh and test.sh: install missing Debian packages, then build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

RUNTIME_PACKAGES=(qt6-base-dev libespeak-ng-dev espeak-ng-data flite1-dev libpulse-dev libmd-dev
                  libzip-dev libpoppler-qt6-dev libhunspell-dev libpcre2-dev
                  libsndfile1-dev libflac-dev libsoxr-dev festival-dev festival festvox-us-slt-hts festvox-kallpc16k
                  cmake ninja-build g++ pkg-config fonts-liberation2 librsvg2-bin)
TEST_PACKAGES=(libgtest-dev pulseaudio pulseaudio-utils sox espeak-ng flite
               binutils-mingw-w64-x86-64 desktop-file-utils appstream file dpkg-dev
               xvfb x11-utils xdotool libx11-dev ffmpeg hunspell-en-us
               at-spi2-core dbus-daemon python3-gi gir1.2-atspi-2.0)
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
