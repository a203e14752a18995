#!/bin/sh
# The layers include downward only. Each folder below may include itself and the folders listed
# after it, nothing else; prints every include that points up or across and fails when there is
# one. The order, from the bottom:
#   platform, image, engine, settings, renderer, batch, cli, tools,
#   ui/controls, ui/app, ui/sheet, ui/window
# (renderer/ is a plug-in: it includes platform/ alone; batch/ includes its C header.)
# Usage: tools/check_layers.sh [SOURCE_ROOT]
root=${1:-$(dirname "$0")/..}
status=0
check() {
  layer=$1
  allowed="$layer $2"
  for file in "$root/$layer"/*.h "$root/$layer"/*.cpp; do
    [ -e "$file" ] || continue
    grep -n '^#include "' "$file" | while IFS= read -r line; do
      # The folder of the included file: "ui/sheet" for "ui/sheet/x.h", "batch" for "batch/x.h".
      target=$(printf '%s\n' "$line" | sed 's/.*#include "\(.*\)\/[^/"]*".*/\1/')
      case " $allowed " in
        *" $target "*) ;;
        *) echo "$file:${line%%:*}: $layer includes $target: ${line#*:}" ;;
      esac
    done
  done
}
out=$(
  check platform ""
  check image "platform"
  check engine "image platform"
  check settings "engine image platform"
  check renderer "platform"
  check batch "renderer settings engine image platform"
  check cli "batch renderer settings engine image platform"
  check tools "engine image platform"
  check ui/controls ""
  check ui/app "ui/controls settings platform"
  check ui/sheet "ui/controls batch settings engine image platform"
  check ui/window "ui/sheet ui/app ui/controls batch settings engine image platform"
)
if [ -n "$out" ]; then
  printf '%s\n' "$out"
  status=1
fi
exit $status
