#!/usr/bin/env bash
# The program's main job. Until the command-line converter lands this shows the programs built.
set -euo pipefail
bindir=$1
echo "Built programs in $bindir:"
ls -1 "$bindir"
