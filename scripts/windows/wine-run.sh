#!/bin/sh
# Runs a Windows program of the cross build under Wine: ctest's emulator
# (CMAKE_CROSSCOMPILING_EMULATOR). The Wine prefix is the one scripts/windows.sh
# prepared (WINEPREFIX). Wine's own messages are left out.
export WINEDEBUG="${WINEDEBUG:--all}"
# No prompts to install Wine's .NET and HTML engines.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine keeps the host's QT_* variables from Windows programs (they are meant
# for the host's own Qt) and passes each one it finds under the name WINEQT_*:
# that is how QT_QPA_PLATFORM and the like reach the program.
for name in $(env | sed -n 's/^\(QT_[A-Za-z0-9_]*\)=.*/\1/p'); do
    export "WINE$name=$(printenv "$name")"
done
exec wine "$@"
