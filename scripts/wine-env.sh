# The environment every Windows program of this project runs in under Wine,
# in one place: sourced by the scripts and by scripts/wine-run.sh, which CTest
# uses to start the Windows builds' tests. Wine's own messages stay quiet,
# and the overrides keep a new prefix from offering to install Mono and
# Gecko. WINEPREFIX is left to the caller (default ~/.wine).
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
