#!/usr/bin/env bash
# Installs a built flavour into an empty prefix, checks what was installed,
# then builds the host project in tests/consumer against that prefix alone and
# runs its programs (natively, or under wine for the 32-bit DLL).
#   run-consumer.sh BUILD_DIR native|windows [sanitize]
# `sanitize`: the library was built with ASan/UBSan, so its consumers must
# link the sanitizer runtimes too.
set -euo pipefail
build=$(cd "$1" && pwd)
flavour=$2
sanitize=${3:-}
source=$(cd "$(dirname "$0")/../.." && pwd)
work="$build/consumer"
prefix="$work/prefix"

fail() { echo "run-consumer: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
echo "== install into the empty prefix $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

expect=(include/ZantrelLayer.h lib/cmake/ZantrelLayer/ZantrelLayerConfig.cmake
        lib/cmake/ZantrelLayer/ZantrelLayerConfigVersion.cmake lib/cmake/ZantrelLayer/ZantrelLayerTargets.cmake
        lib/pkgconfig/ZantrelLayer.pc share/doc/ZantrelLayer/README.md)
version=$(sed -n 's/^Version: //p' "$build/package/ZantrelLayer.pc")
# The API reference, unless the build was configured with ZL_BUILD_DOCS=OFF.
if [ -e "$build/docs/html.stamp" ]; then expect+=(share/doc/ZantrelLayer/html/index.html); fi
if [ "$flavour" = windows ]; then
  expect+=(bin/ZantrelLayer.dll lib/ZantrelLayer.dll.a lib/ZantrelLayer.lib lib/ZantrelLayer.def)
else
  expect+=(lib/libZantrelLayer.so "lib/libZantrelLayer.so.${version%%.*}" "lib/libZantrelLayer.so.$version")
fi
for f in "${expect[@]}"; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done

if [ "$flavour" = windows ]; then
  # Every export of the .def is importable from the MSVC-style library under
  # the names a 32-bit Microsoft compiler gives cdecl functions.
  symbols=$(i686-w64-mingw32-nm "$prefix/lib/ZantrelLayer.lib")
  count=0
  for name in $(sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\) *@[0-9]*.*/\1/p' "$prefix/lib/ZantrelLayer.def"); do
    grep -q " I __imp__$name\$" <<<"$symbols" || fail "ZantrelLayer.lib lacks __imp__$name"
    count=$((count + 1))
  done
  [ "$count" -gt 0 ] || fail "no exports read from ZantrelLayer.def"
else
  soname=$(readelf -d "$prefix/lib/libZantrelLayer.so.$version" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "libZantrelLayer.so.${version%%.*}" ] || fail "SONAME is '$soname'"
fi

echo "== configure and build tests/consumer against the prefix"
args=(-S "$source/tests/consumer" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Debug)
if [ "$flavour" = windows ]; then
  args+=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake")
fi
if [ "$sanitize" = sanitize ]; then
  args+=(-DCMAKE_C_FLAGS=-fsanitize=address,undefined -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
fi
# pkg-config reads the prefix's .pc files and none of the machine's.
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
export PKG_CONFIG_PATH=""
cmake "${args[@]}" >"$work/configure.log" || { cat "$work/configure.log"; fail "configure failed"; }
cmake --build "$work/build" >"$work/build.log" || { cat "$work/build.log"; fail "build failed"; }

if [ "$flavour" = windows ]; then
  echo "== build the Microsoft-ABI host (clang-cl, lld-link /SAFESEH) against the prefix"
  "$source/tests/consumer/msvc-host.sh" "$prefix" "$work/msvc" >"$work/msvc.log" 2>&1 ||
    { cat "$work/msvc.log"; fail "the Microsoft-ABI host did not build"; }
  cp "$work/msvc/consumer_msvc_host.exe" "$work/build/"
fi

echo "== run"
if [ "$flavour" = windows ]; then
  # A host ships the DLLs beside its program.
  cp "$prefix"/bin/*.dll "$work/build/"
  for exe in consumer_cmake consumer_pkgconfig consumer_msvc_lib consumer_msvc_host; do
    imports=$(i686-w64-mingw32-objdump -p "$work/build/$exe.exe")
    grep -q "DLL Name: ZantrelLayer.dll" <<<"$imports" || fail "$exe.exe does not import ZantrelLayer.dll"
    echo "$exe.exe:"
    "$source/scripts/wine-run.sh" "$work/build/$exe.exe"
  done
else
  for exe in consumer_cmake consumer_pkgconfig; do
    dynamic=$(readelf -d "$work/build/$exe")
    grep -q "NEEDED.*\[libZantrelLayer.so.${version%%.*}\]" <<<"$dynamic" ||
      fail "$exe does not need libZantrelLayer.so.${version%%.*}"
    echo "$exe:"
    "$work/build/$exe"
  done
fi
