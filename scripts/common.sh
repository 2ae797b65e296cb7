# Shared by run.sh and test.sh: install missing Debian packages, then build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

RUNTIME_PACKAGES=(qt6-base-dev libespeak-ng-dev espeak-ng-data flite1-dev libpulse-dev
                  libsndfile1-dev libflac-dev libsoxr-dev festival-dev festival festvox-us-slt-hts festvox-kallpc16k
                  cmake ninja-build g++ pkg-config fonts-liberation2 librsvg2-bin)
TEST_PACKAGES=(libgtest-dev pulseaudio pulseaudio-utils sox espeak-ng flite clang libclang-rt-14-dev
               binutils-mingw-w64-x86-64 desktop-file-utils appstream file dpkg-dev
               xvfb x11-utils xdotool libx11-dev ffmpeg
               at-spi2-core dbus-daemon python3-gi gir1.2-atspi-2.0)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=()
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -qq \
        --no-install-recommends "${missing[@]}"
}

build() {
    local dir="$1"; shift
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
    cmake --build "$ROOT/$dir" -j"$(nproc)"
}
