#!/bin/sh
# The layers include downward only: platform/ includes platform/ alone, image/ adds platform/,
# engine/ adds image/. Prints every include that points up a layer and fails when there is one.
# Usage: tools/check_layers.sh [SOURCE_ROOT]
root=${1:-$(dirname "$0")/..}
status=0
check() {
  layer=$1
  allowed=$2
  for file in "$root/$layer"/*.h "$root/$layer"/*.cpp; do
    [ -e "$file" ] || continue
    grep -n '^#include "' "$file" | while IFS= read -r line; do
      target=$(printf '%s\n' "$line" | sed 's/.*#include "\([^/"]*\)\/.*/\1/')
      case " $allowed " in
        *" $target "*) ;;
        *) echo "$file:${line%%:*}: $layer includes $target: ${line#*:}" ;;
      esac
    done
  done
}
out=$(check platform "platform"; check image "image platform"; check engine "engine image platform")
if [ -n "$out" ]; then
  printf '%s\n' "$out"
  status=1
fi
exit $status
