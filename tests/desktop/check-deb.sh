#!/usr/bin/env bash
# Builds the Debian package from the build tree (cpack -G DEB) and checks it: every
# library the programs link is a dependency, apt resolves the dependencies on this
# machine, and the packaged program starts and lists the engines.
#   check-deb.sh BUILD_DIR SOURCE_DIR [--install]
# With --install the package is really installed with apt-get (and removed again when
# it was not installed before), and /usr/bin/parlenmaker is started.
BUILD="$(cd "$1" && pwd)"
PARLEN_SOURCE="$(cd "$2" && pwd)"
REAL_INSTALL="${3:-}"
source "$(dirname "$0")/check-common.sh"

scratch="$(mktemp -d)"
trap 'stop_own_sound_server; rm -rf "$scratch"' EXIT
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }
debs=("$scratch"/pkg/parlenmaker_*.deb)
[ -f "${debs[0]}" ] || fail "no parlenmaker_*.deb made"
deb="${debs[0]}"

# Each shared library the two programs need belongs to a package the .deb depends on.
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
# RHVoice is in Debian's non-free section: suggested at most, never required.
! grep -qi rhvoice <<<"$depends $(dpkg-deb -f "$deb" Recommends)" ||
    fail "the package depends on or recommends RHVoice, which is non-free"
# One package name a line, without version constraints.
depend_names="$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")"
# A package that holds no library of its own but pins the one that does (libtag1v5 on
# libtag1v5-vanilla) brings that package: its exact-version dependencies count too.
pinned="$(dpkg-query -W -f='${Depends}\n' $depend_names 2>/dev/null |
    grep -oE '[a-z0-9][a-z0-9.+-]* \(= [^)]*\)' | sed 's/ .*//')" || true
depend_names="$(printf '%s\n%s\n' "$depend_names" "$pinned")"
known_libs="$(ldconfig -p)"
dpkg-deb -c "$deb" >"$scratch/contents"
# Every library the programs link, with its path as the loader finds it.
needed=()
for program in parlenmaker parlen-say libparlen_festival.so libparlen_pdf.so libparlen_m4b.so; do
    for lib in $(objdump -p "$BUILD/bin/$program" | awk '$1 == "NEEDED" { print $2 }'); do
        # The programs' own library comes with them.
        grep -qE " ./usr/lib/parlenmaker/$lib( |$)" "$scratch/contents" && continue
        path="$(awk -v l="$lib" '$1 == l && /x86-64/ { print $NF; exit }' <<<"$known_libs")"
        [ -n "$path" ] || fail "$lib not found by ldconfig"
        needed+=("$program $lib $path")
    done
done
# The package that holds each, under its own name or its resolved one: with the merged
# /usr, dpkg knows some libraries only under /lib and others only under /usr/lib. One
# query for them all: each query reads dpkg's whole file list, which takes seconds on a
# loaded machine.
names_of() { printf '%s\n' "$1" "$(readlink -f "$1")" "${1#/usr}" "/usr$1"; }
names=()
for entry in "${needed[@]}"; do
    mapfile -t -O "${#names[@]}" names < <(names_of "${entry##* }")
done
dpkg-query -S "${names[@]}" >"$scratch/owners" 2>/dev/null || true
package_of() {
    local name owner
    for name in $(names_of "$1"); do
        # "package[:arch][, other]: /path"; the first package is the owner.
        owner="$(awk -v p="$name" 'substr($0, length($0) - length(p) + 1) == p &&
            substr($0, length($0) - length(p) - 1, 2) == ": " { print; exit }' "$scratch/owners" |
            sed -E 's/[:,].*//')"
        [ -z "$owner" ] || { echo "$owner"; return; }
    done
}
for entry in "${needed[@]}"; do
    read -r program lib path <<<"$entry"
    owner="$(package_of "$path")"
    [ -n "$owner" ] || fail "no package holds $path"
    grep -qxF "$owner" <<<"$depend_names" ||
        fail "$program links $lib from $owner, which is not a dependency"
done

# The tree inside: program, its library and read-me together, the link, the desktop files.
for path in ./usr/lib/parlenmaker/parlenmaker ./usr/lib/parlenmaker/readme.txt \
    ./usr/lib/parlenmaker/libparlen_festival.so ./usr/lib/parlenmaker/libparlen_pdf.so \
    ./usr/lib/parlenmaker/libparlen_m4b.so \
    ./usr/bin/parlen-say ./usr/share/applications/org.parlenmaker.ParlenMaker.desktop \
    ./usr/share/metainfo/org.parlenmaker.ParlenMaker.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/org.parlenmaker.ParlenMaker.svg \
    ./usr/share/icons/hicolor/48x48/apps/org.parlenmaker.ParlenMaker.png; do
    grep -qE " $path( |$)" "$scratch/contents" || fail "$path not in the package"
done
grep -qF './usr/bin/parlenmaker -> ../lib/parlenmaker/parlenmaker' "$scratch/contents" ||
    fail "no link usr/bin/parlenmaker"

# apt resolves the dependencies from what this machine has or can fetch.
apt-get install --simulate -o Debug::NoLocking=1 "$deb" >"$scratch/apt.log" 2>&1 ||
    { cat "$scratch/apt.log"; fail "apt-get cannot install the package"; }
grep -qE '^Inst parlenmaker |parlenmaker is already the newest' "$scratch/apt.log" ||
    { cat "$scratch/apt.log"; fail "apt-get would not install parlenmaker"; }

ensure_sound_server "$scratch"
# The packaged program, unpacked elsewhere, runs from its own tree.
dpkg-deb -x "$deb" "$scratch/root"
run_until_started "$scratch/root/usr/bin/parlenmaker" "$scratch/report"
# Stripping keeps the version block that --version reads.
"$scratch/root/usr/bin/parlen-say" --version | grep -q ' - Parlen Maker) [0-9]' ||
    fail "the packaged parlen-say prints no version"
check_report "$scratch/report" "$scratch/root/usr/lib/parlenmaker/readme.txt"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, dependencies resolve, program starts"

if [ "$REAL_INSTALL" = "--install" ]; then
    was_installed=0
    dpkg-query -W -f='${Status}' parlenmaker 2>/dev/null | grep -q "install ok installed" &&
        was_installed=1
    as_root apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" >"$scratch/install.log" 2>&1 ||
        { cat "$scratch/install.log"; fail "apt-get install failed"; }
    run_until_started /usr/bin/parlenmaker "$scratch/installed-report"
    check_report "$scratch/installed-report" /usr/lib/parlenmaker/readme.txt
    echo "installed with apt-get: $(grep -c '^engine: ' "$scratch/installed-report") engines"
    [ "$was_installed" -eq 1 ] ||
        as_root apt-get remove -y -qq -o DPkg::Lock::Timeout=300 parlenmaker >/dev/null 2>&1
fi
