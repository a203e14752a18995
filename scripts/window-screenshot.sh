#!/usr/bin/env bash
# Starts the real program on a virtual X server (xvfb-run) as a user would, with the given
# PostScript files (default: the sample documents) in its list, and saves a screenshot of the
# screen. Usage: scripts/window-screenshot.sh BINDIR [OUT.png] [FILE.ps ...]
set -euo pipefail
bindir=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
out=${2:-$bindir/window-xvfb.png}
shift $(($# < 2 ? $# : 2))
files=("$@")
if [ ${#files[@]} -eq 0 ]; then files=("$top"/samples/*.ps); fi

# Runs inside the virtual server: start the window, give it time to appear, photograph the
# screen, then end the program we started.
inner=$(cat <<'INNER'
set -eu
out=$1; program=$2; shift 2
"$program" "$@" &
pid=$!
for _ in $(seq 1 50); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Kestrune Orvalis"'; then break; fi
  if ! kill -0 "$pid" 2>/dev/null; then echo "the program ended before its window appeared" >&2; exit 1; fi
  sleep 0.2
done
sleep 1
import -window root "$out"
kill "$pid"
wait "$pid" 2>/dev/null || true
INNER
)
# A runtime folder of its own: a copy of the program already open on the user's desktop would
# otherwise count as the one instance and this one would end at once.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime
xvfb-run -a -s "-screen 0 1024x640x24" bash -c "$inner" inner "$out" "$bindir/kestrune-orvalis" "${files[@]}"
echo "Screenshot: $out"
