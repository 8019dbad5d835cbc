#!/usr/bin/env bash
# Checks the Windows zip for a clean Windows 10/11 x64: every DLL that any program or DLL in it
# imports is either in the zip (next to the programs) or one of Windows' own DLLs named below. Also:
# the three programs and the platform plugin are there, every binary is x86-64, and zrv-cli loads no
# windowing library (it runs without a display).
#   check-windows-zip.sh <zip>
set -euo pipefail
zip=$(realpath "$1")
objdump=x86_64-w64-mingw32-objdump

# Part of every Windows 10/11 x64 installation (System32). api-ms-win-* are the API sets of the
# same system DLLs.
system_dlls=(
  advapi32.dll authz.dll bcrypt.dll cfgmgr32.dll comctl32.dll comdlg32.dll crypt32.dll d2d1.dll
  d3d11.dll d3d12.dll d3d9.dll dwmapi.dll dwrite.dll dxgi.dll gdi32.dll hid.dll imm32.dll
  kernel32.dll mpr.dll msvcrt.dll netapi32.dll ntdll.dll ole32.dll oleaut32.dll setupapi.dll
  shcore.dll shell32.dll shlwapi.dll user32.dll userenv.dll uxtheme.dll version.dll winmm.dll
  ws2_32.dll wtsapi32.dll
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -E chdir "$work" cmake -E tar xf "$zip"
root=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
[ -n "$root" ] || { echo "check-windows-zip: no folder in $zip" >&2; exit 1; }

rc=0
for must in zrv-pc.exe zrv-pc-demo.exe zrv-cli.exe platforms/qwindows.dll README.md LICENSE.txt fonts/tahoma.ttf; do
  if [ ! -f "$root/$must" ]; then
    echo "missing: $must"
    rc=1
  fi
done

in_zip=$(find "$root" -maxdepth 1 -type f -iname '*.dll' -printf '%f\n' | tr '[:upper:]' '[:lower:]')
is_system() {
  local dll=$1 s
  [[ $dll == api-ms-win-* || $dll == ext-ms-win-* ]] && return 0
  for s in "${system_dlls[@]}"; do
    [ "$dll" = "$s" ] && return 0
  done
  return 1
}
binaries=0
while IFS= read -r -d '' file; do
  binaries=$((binaries + 1))
  rel=${file#"$root"/}
  dump=$($objdump -p "$file")
  if ! grep -q '^Magic.*20b' <<<"$dump"; then
    echo "$rel: not a 64-bit (PE32+) file"
    rc=1
  fi
  for dll in $(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]'); do
    if grep -qxF "$dll" <<<"$in_zip"; then
      continue
    fi
    if ! is_system "$dll"; then
      echo "$rel imports $dll, which is neither in the zip nor part of Windows"
      rc=1
    fi
  done
  if [ "$rel" = zrv-cli.exe ]; then
    for gui in qt6gui.dll qt6widgets.dll; do
      if sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]' | grep -qxF "$gui"; then
        echo "zrv-cli.exe imports $gui: it must start without a display"
        rc=1
      fi
    done
  fi
done < <(find "$root" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
echo "check-windows-zip: $binaries programs and DLLs, $(wc -l <<<"$in_zip") DLLs beside the programs"
[ $rc -eq 0 ] && echo "check-windows-zip: every import is in the zip or part of Windows"
exit $rc
