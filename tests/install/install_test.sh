#!/bin/bash
# Installs the build into a temporary DESTDIR, runs the installed programs through their links in
# bin/, and builds the Debian package to check its file list and its dependencies. Nothing is
# installed on the machine itself.
#
# usage: install_test.sh BUILD_DIR WINDOW_BUILT(0|1)
set -euo pipefail

build=$1
window=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/orvalis-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

programs=(orvalis-cli)
[ "$window" = 1 ] && programs+=(kestrune-orvalis)

# --- cmake --install into a DESTDIR ----------------------------------------------------------
stage=$work/stage
root=$stage/usr
if ! DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi
program_dir=$root/lib/kestrune-orvalis
for program in "${programs[@]}"; do
  check "$program in the program folder" test -x "$program_dir/$program" -a ! -L "$program_dir/$program"
  check "bin/$program links to the program folder" \
    test "$(readlink "$root/bin/$program")" = "../lib/kestrune-orvalis/$program"
  check "man page of $program" gzip -t "$root/share/man/man1/$program.1.gz"
  check "man page of $program formats without warnings" \
    test -z "$(zcat "$root/share/man/man1/$program.1.gz" | groff -man -ww -z 2>&1)"
done
if [ "$window" = 0 ]; then
  check "no link to a window program that was not built" test ! -e "$root/bin/kestrune-orvalis"
fi
check "renderer plug-in beside the programs" test -f "$program_dir/libtavrinx.so"
check "help page beside the programs" grep -q '<title>Kestrune Orvalis Help</title>' "$program_dir/help.html"
desktop=$root/share/applications/kestrune-orvalis.desktop
if [ "$window" = 1 ]; then
  check "desktop entry is valid" desktop-file-validate "$desktop"
  check "desktop entry opens PostScript, EPS, PDF and compressed PostScript files" grep -qx \
    'MimeType=application/postscript;image/x-eps;application/pdf;application/x-gzpostscript;' \
    "$desktop"
  check "desktop entry starts the window with the files" grep -qx 'Exec=kestrune-orvalis %F' "$desktop"
else
  check "no desktop entry without the window program" test ! -e "$desktop"
fi
check "copyright file" grep -q '^Upstream-Name: Kestrune Orvalis' "$root/share/doc/kestrune-orvalis/copyright"
check "changelog" gzip -t "$root/share/doc/kestrune-orvalis/changelog.gz"
for size in 16 32 48; do
  icon=$root/share/icons/hicolor/${size}x${size}/apps/kestrune-orvalis.png
  check "hicolor icon ${size}x${size}" test "$(/usr/bin/python3 -c \
    'import sys; from PIL import Image; print("%dx%d" % Image.open(sys.argv[1]).size)' "$icon")" \
    = "${size}x${size}"
done
check "scalable icon" grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/kestrune-orvalis.svg"

# --- the installed programs, started through their links -------------------------------------
# A clean environment: no build folder on PATH, a home of its own, started from elsewhere, and
# once more through a link to the link, as a user's own ~/bin might hold.
mkdir -p "$work/home" "$work/tmp" "$work/in" "$work/mybin" "$work/elsewhere"
ln -s "$root/bin/orvalis-cli" "$work/mybin/convert-ps"
run() {
  (cd "$work/elsewhere" && env -i PATH=/usr/bin:/bin HOME="$work/home" TMPDIR="$work/tmp" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" "$@")
}
if run "$work/mybin/convert-ps" --version | grep -q '^orvalis-cli '; then
  echo "ok: orvalis-cli --version through a link to the link"
else
  fail "orvalis-cli --version through a link to the link"
fi

cat >"$work/in/two pages.ps" <<'PS'
%!PS-Adobe-3.0
%%Pages: 2
%%EndComments
%%Page: 1 1
<< /PageSize [144 72] >> setpagedevice
0 0 1 setrgbcolor 0 0 72 72 rectfill
showpage
%%Page: 2 2
<< /PageSize [144 72] >> setpagedevice
1 0 0 setrgbcolor 72 0 72 72 rectfill
showpage
%%EOF
PS
if run "$root/bin/orvalis-cli" -q -f png --dpi 72 -o "$work/out" "$work/in/two pages.ps" \
    >"$work/convert.log" 2>&1; then
  echo "ok: sample converted through bin/orvalis-cli"
else
  cat "$work/convert.log" >&2
  fail "sample conversion through bin/orvalis-cli"
fi
pages=$(/usr/bin/python3 - "$work/out" <<'PY' 2>&1
import sys
from PIL import Image
found = []
for page, colour in ((1, (0, 0, 255)), (2, (255, 0, 0))):
    image = Image.open("%s/two pages_%03d.png" % (sys.argv[1], page)).convert("RGB")
    corner = image.getpixel((5, 5)) if page == 1 else image.getpixel((image.width - 5, 5))
    found.append("%dx%d %s" % (image.width, image.height, corner == colour))
print("; ".join(found))
PY
)
check "both pages written, 144x72 pixels, in their colours (got: $pages)" \
  test "$pages" = "144x72 True; 144x72 True"

# An installed copy whose folder the user may not write to (as under /usr) reads the user's own
# Profile.ini. As root the run switches to the user nobody, for whom the folder is read-only.
user_home=$work/user
mkdir -p "$user_home/.config/kestrune-orvalis" "$work/from-profile" "$work/user-tmp"
printf '[Set]\ntype=3\nmode=1\noutput=%s/\n' "$work/from-profile" \
  >"$user_home/.config/kestrune-orvalis/Profile.ini"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chmod 755 "$work"
  chown -R nobody "$user_home" "$work/from-profile" "$work/user-tmp"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
else
  chmod a-w "$program_dir"
fi
if (cd "$work/elsewhere" && env -i PATH=/usr/bin:/bin HOME="$user_home" TMPDIR="$work/user-tmp" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" "${as_user[@]}" "$root/bin/orvalis-cli" -q \
    "$work/in/two pages.ps" >"$work/user.log" 2>&1); then
  echo "ok: conversion with the user's Profile.ini"
else
  cat "$work/user.log" >&2
  fail "conversion with the user's Profile.ini"
fi
check "the user's Profile.ini chose PNG and the destination folder" \
  test -f "$work/from-profile/two pages_001.png" -a -f "$work/from-profile/two pages_002.png"
check "no Profile.ini in the program folder" test ! -e "$program_dir/Profile.ini"
chmod u+w "$program_dir"

# --- the Debian package ----------------------------------------------------------------------
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
debs=("$work"/package/*.deb)
check "one .deb built" test "${#debs[@]}" = 1 -a -f "${debs[0]}"
deb=${debs[0]}
dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' >"$work/contents"
expected=(
  "./usr/lib/kestrune-orvalis/libtavrinx.so"
  "./usr/lib/kestrune-orvalis/help.html"
  "./usr/share/doc/kestrune-orvalis/copyright"
  "./usr/share/doc/kestrune-orvalis/changelog.gz"
  "./usr/share/icons/hicolor/16x16/apps/kestrune-orvalis.png"
  "./usr/share/icons/hicolor/32x32/apps/kestrune-orvalis.png"
  "./usr/share/icons/hicolor/48x48/apps/kestrune-orvalis.png"
  "./usr/share/icons/hicolor/scalable/apps/kestrune-orvalis.svg"
)
[ "$window" = 1 ] && expected+=("./usr/share/applications/kestrune-orvalis.desktop")
for program in "${programs[@]}"; do
  expected+=("./usr/lib/kestrune-orvalis/$program"
             "./usr/bin/$program -> ../lib/kestrune-orvalis/$program"
             "./usr/share/man/man1/$program.1.gz")
done
for entry in "${expected[@]}"; do
  check "package holds $entry" grep -qxF "$entry" "$work/contents"
done
check "package holds nothing outside /usr" test -z "$(grep -v '^\./usr/\|^\./$' "$work/contents")"
check "package holds no test programs" test -z "$(grep -E '/(test_|app_start_probe)' "$work/contents")"

check "package name" test "$(dpkg-deb -f "$deb" Package)" = kestrune-orvalis
check "package architecture" test "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names alone, one a line, without versions or alternatives.
names=$(tr ',|' '\n\n' <<<"$depends" | awk 'NF { print $1 }')
needed=(ghostscript libc6 libstdc++6 libtiff6 libpng16-16 libjpeg62-turbo libopenjp2-7)
[ "$window" = 1 ] && needed+=(libqt6widgets6)
for package in "${needed[@]}"; do
  check "depends on $package" grep -qxF "$package" <<<"$names"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all install checks passed"
