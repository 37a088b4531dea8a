#!/usr/bin/env bash
# Makes the CPack archive of a built flavour and checks what it holds.
#   check-package.sh BUILD_DIR native|windows
set -euo pipefail
build=$(cd "$1" && pwd)
flavour=$2
out="$build/package-check"
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" || { cat "$out/cpack.log"; exit 1; }
archive=$(find "$out" -maxdepth 1 -name 'ZantrelLayer-*.zip' -o -maxdepth 1 -name 'ZantrelLayer-*.tar.gz' | head -n1)
[ -n "$archive" ] || { echo "check-package: no archive in $out" >&2; exit 1; }
echo "archive: $(basename "$archive")"
listing=$(cd "$out" && cmake -E tar tf "$archive")
top=$(basename "$archive"); top=${top%.zip}; top=${top%.tar.gz}
want=(include/ZantrelLayer.h lib/cmake/ZantrelLayer/ZantrelLayerConfig.cmake lib/pkgconfig/ZantrelLayer.pc
     )
# The API reference, unless the build was configured with ZL_BUILD_DOCS=OFF.
if [ -e "$build/docs/html.stamp" ]; then want+=(share/doc/ZantrelLayer/html/index.html); fi
if [ "$flavour" = windows ]; then
  want+=(bin/ZantrelLayer.dll lib/ZantrelLayer.dll.a lib/ZantrelLayer.lib lib/ZantrelLayer.def)
else
  want+=(lib/libZantrelLayer.so)
fi
status=0
for f in "${want[@]}"; do
  if ! grep -qx "$top/$f" <<<"$listing"; then
    echo "check-package: $top/$f missing from the archive" >&2
    status=1
  fi
done
exit "$status"
