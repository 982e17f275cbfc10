#!/bin/sh
# Runs a Windows program of the cross build under Wine: ctest's emulator
# (CMAKE_CROSSCOMPILING_EMULATOR). The Wine prefix is the one scripts/windows.sh
# prepared (WINEPREFIX); the environment, QT_QPA_PLATFORM among it, reaches
# the Windows program as it is. Wine's own messages are left out.
export WINEDEBUG="${WINEDEBUG:--all}"
# No prompts to install Wine's .NET and HTML engines.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
