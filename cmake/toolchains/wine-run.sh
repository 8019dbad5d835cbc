#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine (the CMake emulator). $1: the folders of the
# DLLs it needs, separated by colons; the rest: the program and its arguments.
#
# wine finds DLLs on the Windows PATH, which WINEPATH extends. wine passes no QT_* variable to a
# program, but passes WINEQT_* under the name without WINE, so the platform plugin is chosen there:
# offscreen, as on Linux, with wine's font folder (Tahoma, the window's font, is there) as its
# fonts; it would otherwise look only in Qt's own folder.
# Qt's messages go to stderr instead of the debugger channel, and the install dialogs for .NET and
# the web control stay away: nothing here needs them. Each can be overridden from outside.
set -u
dirs=$1
shift
export WINEPATH="${dirs//:/;}${WINEPATH:+;$WINEPATH}"
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
export WINEDEBUG=${WINEDEBUG--all}
export WINEQT_QPA_PLATFORM=${WINEQT_QPA_PLATFORM-offscreen}
export WINEQT_QPA_FONTDIR=${WINEQT_QPA_FONTDIR-'Z:\usr\share\wine\fonts'}
export WINEQT_FORCE_STDERR_LOGGING=${WINEQT_FORCE_STDERR_LOGGING-1}
exec wine "$@"
