#!/usr/bin/env bash
# The program's main job: converts the sample PostScript documents in samples/ into PNG images
# in out/ of the checkout, with every other setting as saved in Profile.ini, then lists what it
# wrote.
set -euo pipefail
bindir=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$top/out"
status=0
"$bindir/orvalis-cli" -f png -o "$top/out" "$top/samples" || status=$?
echo
echo "Written into $top/out:"
ls -l "$top/out"
exit $status
