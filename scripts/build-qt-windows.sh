#!/usr/bin/env bash
# Builds Qt (Core, Gui, Widgets, Test; shared, Release) for 64-bit Windows from Debian's own qt6-base
# source with the mingw-w64 cross compiler, and installs it into a cache folder outside the checkout:
#   /var/cache/zrv-pc/qt-windows/<Qt source version>-<compiler version>-<hash of this script and the
#   toolchain file>
# Does nothing when that folder is complete. The source version is the one of the installed
# qt6-base-dev-tools, whose moc, uic and rcc the cross build uses: host tools and libraries must be
# the same Qt version.
#   --print-prefix  print the folder and exit (builds nothing)
# Needs root (apt) unless the packages are present. Takes about 20 minutes of two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
toolchain=$PWD/cmake/toolchains/x86_64-w64-mingw32.cmake
cache_root=${ZRV_CACHE_DIR:-/var/cache/zrv-pc}/qt-windows

version_of() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }
prefix() {
  local qt cc crt sum
  qt=$(version_of qt6-base-dev-tools)
  cc=$(version_of g++-mingw-w64-x86-64-posix)
  crt=$(version_of mingw-w64-x86-64-dev)
  sum=$(cat "$0" "$toolchain" | sha256sum | cut -c1-12)
  # Debian versions hold '+' and ':', which are fine in a folder name but not in every tool's path.
  echo "$cache_root/qt${qt//[:+~]/_}-gcc${cc//[:+~]/_}-crt${crt//[:+~]/_}-$sum"
}

if [ "${1:-}" = "--print-prefix" ]; then
  prefix
  exit 0
fi

packages=(qt6-base-dev-tools g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  cmake ninja-build dpkg-dev xz-utils)
STAGE_NAME=windows
source scripts/lib/stage.sh
ensure_packages "${packages[@]}"

dest=$(prefix)
if [ -f "$dest/.complete" ]; then
  echo "Qt for Windows: cached in $dest"
  exit 0
fi
qt_version=$(version_of qt6-base-dev-tools)
t0=$SECONDS
work=$cache_root/work
rm -rf "$work" "$dest"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts"

# Debian's source package through a deb-src list of our own: the machine's apt sources stay as they are.
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
  >"$work/apt/sources.list"
apt_opts=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=$work/apt/parts"
  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache" -o "APT::Sandbox::User=root")
apt-get "${apt_opts[@]}" update
(cd "$work" && apt-get "${apt_opts[@]}" source "qt6-base=$qt_version")
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)

# Only what the tool and its tests use; each switch below leaves out code that nothing of ours calls.
# Debian's source has no tablet headers; OpenGL is switched off at the input (the feature switch
# alone leaves the Windows platform plugin half-configured). Direct2D stays on: Qt's DirectWrite
# font engine, the one the window draws with, is built only with it; Direct2D 1.1 only adds a
# platform plugin of its own that nothing loads. FreeType stays: the offscreen platform, which the
# tests run on, draws its text with it. The style sheet stays (the combo boxes' popups use one).
modules=(
  -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON
  -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_zstd=OFF
  -DFEATURE_androiddeployqt=OFF
)
# Screen readers reach the window through UI Automation, about a tenth of the platform plugin:
# left out, as the tool has no accessible names or descriptions of its own yet.
gui=(
  -DFEATURE_tabletevent=OFF -DINPUT_opengl=no -DFEATURE_direct2d=ON -DFEATURE_direct2d1_1=OFF
  -DFEATURE_accessibility=OFF
  -DFEATURE_gif=OFF -DFEATURE_ico=OFF -DFEATURE_jpeg=OFF
  -DFEATURE_imageformat_ppm=OFF -DFEATURE_imageformat_xbm=OFF
  -DFEATURE_textodfwriter=OFF -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF
  -DFEATURE_pdf=OFF -DFEATURE_movie=OFF -DFEATURE_picture=OFF -DFEATURE_systemtrayicon=OFF
  -DFEATURE_sessionmanager=OFF -DFEATURE_whatsthis=OFF -DFEATURE_desktopservices=OFF
  -DFEATURE_undocommand=OFF -DFEATURE_undostack=OFF -DFEATURE_undogroup=OFF
  -DFEATURE_jalalicalendar=OFF -DFEATURE_islamiccivilcalendar=OFF -DFEATURE_hijricalendar=OFF
)
# Widgets and dialogs that no window of ours shows. The file dialog and the message boxes stay, and
# so does the input dialog, whose header the native style includes whatever the switches.
widgets=(
  -DFEATURE_treewidget=OFF -DFEATURE_commandlinkbutton=OFF -DFEATURE_datetimeedit=OFF
  -DFEATURE_calendarwidget=OFF -DFEATURE_textbrowser=OFF -DFEATURE_splashscreen=OFF
  -DFEATURE_lcdnumber=OFF -DFEATURE_fontcombobox=OFF -DFEATURE_toolbox=OFF -DFEATURE_dockwidget=OFF
  -DFEATURE_mdiarea=OFF -DFEATURE_dial=OFF -DFEATURE_graphicsview=OFF -DFEATURE_graphicseffect=OFF
  -DFEATURE_syntaxhighlighter=OFF -DFEATURE_keysequenceedit=OFF -DFEATURE_formlayout=OFF
  -DFEATURE_colordialog=OFF -DFEATURE_fontdialog=OFF -DFEATURE_progressdialog=OFF
  -DFEATURE_errormessage=OFF -DFEATURE_wizard=OFF -DFEATURE_columnview=OFF
  -DFEATURE_datawidgetmapper=OFF -DFEATURE_undoview=OFF
)
# No ccache: the build runs once per cache key, and ccache once handed this build a precompiled
# header made under other feature switches.
ZRV_QT_WINDOWS=$dest cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=ON \
  -DCMAKE_INSTALL_PREFIX="$dest" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  "${modules[@]}" "${gui[@]}" "${widgets[@]}"
cmake --build "$work/build" --parallel 2
cmake --install "$work/build"
echo "qt6-base $qt_version, $(x86_64-w64-mingw32-g++-posix --version | head -n 1)" >"$dest/.complete"
rm -rf "$work"
echo "Qt for Windows: built into $dest in $((SECONDS - t0)) s"
