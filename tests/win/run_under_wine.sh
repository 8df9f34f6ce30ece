#!/bin/sh
# Runs one Windows test program under Wine, on a private Xvfb display.
#
#   run_under_wine.sh <wine> <program.exe> [arguments...]
#
# - First waits for the Wine server of an earlier run to end. A Wine desktop
#   lives as long as its server; one made by a run without a display, or on
#   an Xvfb display that has since gone, makes every window of a later run
#   fail. Waiting gives each run a desktop on its own display.
# - Makes the Wine prefix on first use (Wine does that by itself), in the
#   project's Wine environment (scripts/wine-env.sh).
# - Lets Wine draw the test host's windows itself. Xvfb has no window
#   manager, and Wine waits two seconds for one whenever a window that it
#   leaves to the window manager is hidden: every time a dialog closes.
# - Waits again at the end, so the next run starts clean too.
set -u
wine=$1
shift
. "$(dirname "$0")/../../scripts/wine-env.sh"

wineserver -w
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  wine=$1
  shift
  "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\velbrin_win_host.exe\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
  exec "$wine" "$@"
' sh "$wine" "$@"
status=$?
wineserver -w
exit $status
