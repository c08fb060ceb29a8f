#!/usr/bin/env bash
# Proves the Debian package: builds it in a build directory of its own with Debian's hardening
# flags, lists its dependencies and files, holds it to lintian (no error, no warning), validates
# its AppStream metadata and manual pages, installs it with apt-get, answers --help without a
# display, starts the installed program offscreen, grabs its window to PNG and checks the
# version in the title, then removes the package.
# Needs root (or sudo). Usage: tools/check-package.sh [PNG]   (default build-package/installed.png)
#   VARNOK_PACKAGE_BUILD_DIR  where to build (default build-package/)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNOK_PACKAGE_BUILD_DIR:-$here/build-package}
shot=${1:-$build/installed.png}
started=$SECONDS

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
step() { printf '\n== %s\n' "$*"; }
fail() {
    echo "check-package: FAILED: $*" >&2
    exit 1
}

if dpkg-query -W -f='${Status}' varnok-binary 2>/dev/null | grep -q "install ok installed"; then
    fail "varnok-binary is installed already; remove it first (apt-get remove varnok-binary)"
fi

step "Build tools"
packages=(build-essential cmake pkg-config qt6-base-dev qt6-serialport-dev libgl-dev libmodbus-dev liblua5.4-dev
          dpkg-dev desktop-file-utils fonts-dejavu-core lintian appstream man-db)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
else
    echo "all there"
fi
app_id=org.example.varnok_binary
desktop-file-validate "$here/packaging/$app_id.desktop"

step "Build the package in $build"
# Only the installed programs are built: the install step must not pull in tests and tools.
# Debian's flags with all hardening (fortify, stack protector, PIE, relro, bindnow).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" --target varnok-binary varnok-devsim -j"$(nproc)" >/dev/null
rm -f "$build"/varnok-binary_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/varnok-binary_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no varnok-binary_*.deb"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)

step "Package information"
dpkg-deb -I "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6serialport6 libmodbus5 liblua5.4-0 libc6; do
    [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib (shlibdeps did not run?): $depends"
done

step "Package files"
listing=$(dpkg-deb -c "$deb")
echo "$listing"
for f in ./usr/bin/varnok-binary ./usr/bin/varnok-devsim \
         ./usr/share/applications/$app_id.desktop \
         ./usr/share/icons/hicolor/scalable/apps/varnok-binary.svg \
         ./usr/share/metainfo/$app_id.metainfo.xml \
         ./usr/share/man/man1/varnok-binary.1.gz ./usr/share/man/man1/varnok-devsim.1.gz \
         ./usr/share/doc/varnok-binary/copyright ./usr/share/doc/varnok-binary/changelog.gz; do
    grep -q " $f\$" <<<"$listing" || fail "$f is not in the package"
done

step "lintian"
# Informational tags (I:) are shown too; errors (E:) and warnings (W:) fail the check.
lintian_out=$(lintian --display-info --tag-display-limit 0 "$deb" 2>&1) || true
echo "${lintian_out:-(nothing to report)}"
! grep -q '^[EW]: ' <<<"$lintian_out" || fail "lintian reports errors or warnings"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"

step "AppStream metadata"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli finds problems in the metainfo file"
# The metainfo file together with the desktop entry and icon it points to.
appstreamcli validate-tree --no-net "$unpacked" || fail "appstreamcli finds problems in the tree"

step "Manual pages"
for page in "$unpacked"/usr/share/man/man1/*.gz; do
    # As lintian checks them: any warning from groff or man is a failure.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
        fail "$(basename "$page") does not render: $warnings"
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    echo "$(basename "$page"): no warnings"
done
rm -rf "$unpacked"
trap - EXIT

step "Install"
installed=0
remove_package() {
    if [ $installed = 1 ]; then
        step "Remove"
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get remove -y -q varnok-binary
        installed=0
    fi
}
trap remove_package EXIT
installed=1
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "$deb"
desktop-file-validate "/usr/share/applications/$app_id.desktop"
/usr/bin/varnok-devsim --help | head -n 1
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/varnok-binary --help) ||
    fail "varnok-binary --help fails without a display"
head -n 1 <<<"$help"

step "Start the installed program offscreen"
mkdir -p "$(dirname "$shot")"
rm -f "$shot"
title=$(cd / && timeout 60 /usr/bin/varnok-binary -platform offscreen --screenshot "$shot")
echo "window title: $title"
[[ $title == *"v$version"* ]] || fail "the title does not show version $version"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "$shot is not a PNG"
echo "window grabbed to $shot ($(stat -c %s "$shot") bytes)"

remove_package
trap - EXIT
[ ! -e /usr/bin/varnok-binary ] || fail "/usr/bin/varnok-binary is still there after removal"
echo
echo "check-package: OK, $(basename "$deb"), $((SECONDS - started)) s"
