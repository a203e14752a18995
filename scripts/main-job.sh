#!/usr/bin/env bash
# The program's main job. With a display (DISPLAY or WAYLAND_DISPLAY set) it opens the window,
# kestrune-orvalis, with the sample PostScript documents of samples/ in its list. Without one it
# converts them into PNG images in out/ of the checkout through orvalis-cli, with every other
# setting as saved in Profile.ini, lists what it wrote, and says how to open the window.
set -euo pipefail
bindir=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$bindir/kestrune-orvalis" "$top"/samples/*.ps
fi
mkdir -p "$top/out"
status=0
"$bindir/orvalis-cli" -f png -o "$top/out" "$top/samples" || status=$?
echo
echo "Written into $top/out:"
ls -l "$top/out"
echo
echo "No display is set, so the window was not opened. On a desktop, run 'make run' again, or:"
echo "  $bindir/kestrune-orvalis $top/samples/*.ps"
echo "(scripts/window-screenshot.sh $bindir shows it on a virtual X server and saves a screenshot.)"
exit $status
