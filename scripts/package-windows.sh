#!/usr/bin/env bash
# Makes the Windows zip from a cross build: zrv-pc-<version>-windows-x64.zip with the programs, the
# DLLs they load (Qt's and the mingw runtime's, found by walking the import tables, as the deployment
# tool of Qt would, which a cross build does not have), the platform and style plugins, the window's
# font, README and LICENSE.
#   package-windows.sh [build folder]   (default build/windows); prints the zip's path
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
qt=${ZRV_QT_WINDOWS:-$(bash scripts/build-qt-windows.sh --print-prefix)}
version=$(sed -n 's/^project(zrv-pc VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=zrv-pc-$version-windows-x64
objdump=x86_64-w64-mingw32-objdump
gxx=x86_64-w64-mingw32-g++-posix
# Where the DLLs come from: Qt, then the compiler's runtime.
dll_dirs=("$qt/bin" "$(dirname "$($gxx -print-file-name=libstdc++-6.dll)")"
  "$(dirname "$(realpath "$($gxx -print-file-name=libwinpthread-1.dll)")")")

stage=$build/package/$name
rm -rf "$build/package"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/fonts"
for exe in zrv-pc zrv-pc-demo zrv-cli; do
  if [ -f "$build/apps/$exe/$exe.exe" ]; then
    cp "$build/apps/$exe/$exe.exe" "$stage/"
  else
    echo "package-windows: $exe.exe not built, left out" >&2
  fi
done
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
for style in "$qt"/plugins/styles/*.dll; do
  [ -e "$style" ] && cp "$style" "$stage/styles/"
done

# Every DLL imported by a file in the zip that one of dll_dirs holds, until nothing new is found.
find_dll() {
  local d
  for d in "${dll_dirs[@]}"; do
    # Import tables and file names may differ in letter case.
    local hit
    hit=$(find "$d" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
    if [ -n "$hit" ]; then
      echo "$hit"
      return 0
    fi
  done
  return 1
}
changed=1
while [ $changed -eq 1 ]; do
  changed=0
  while IFS= read -r -d '' file; do
    for dll in $($objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
      [ -n "$(find "$stage" -maxdepth 1 -iname "$dll" -print -quit)" ] && continue
      if src=$(find_dll "$dll"); then
        cp "$src" "$stage/"
        changed=1
      fi
    done
  done < <(find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
done

# Tahoma: Windows has it; a copy (from wine, LGPL) serves a system without it.
cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$stage/fonts/"
cp /usr/share/doc/fonts-wine/copyright "$stage/fonts/COPYING.txt"
# Windows' own editor wants CR LF.
sed 's/$/\r/' README.md >"$stage/README.md"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.exe

zip=$build/package/$name.zip
(cd "$build/package" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$zip"
