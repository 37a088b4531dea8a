#!/usr/bin/env bash
# Installs what is missing, builds the optimised flavour and renders the demo
# scene into demo.png in the directory this script was started from.
set -euo pipefail

start_dir=$(pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$root/scripts/install-deps.sh"

cd "$root"
cmake --preset release
cmake --build --preset release

# The program writes demo.png into its current directory.
cd "$start_dir"
"$root/build/release/bin/zantrel" demo
