#!/bin/sh
# tools/check_layers.sh on a small tree: includes that point up a layer, or across between the
# window's folders, are named and fail the check; includes that point down pass.
set -u
script=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/platform" "$tree/settings" "$tree/batch" "$tree/ui/sheet" "$tree/ui/window"
printf '#include "platform/a.h"\n' > "$tree/settings/down.cpp"
printf '#include "settings/down.h"\n#include "ui/sheet/s.h"\n' > "$tree/ui/window/down.cpp"
if ! sh "$script" "$tree" > /dev/null; then echo "includes that point down failed"; exit 1; fi
printf '#include "batch/b.h"\n' > "$tree/settings/up.cpp"
printf '#include "ui/window/w.h"\n' > "$tree/ui/sheet/up.cpp"
out=$(sh "$script" "$tree") && { echo "includes that point up passed"; exit 1; }
for expected in "settings includes batch" "ui/sheet includes ui/window"; do
  case "$out" in
    *"$expected"*) ;;
    *) echo "not named: $expected"; printf '%s\n' "$out"; exit 1 ;;
  esac
done
echo ok
