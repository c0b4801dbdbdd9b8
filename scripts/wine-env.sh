# Sourced by the Wine scripts: the environment every project Wine run uses.
# Usage: . scripts/wine-env.sh PREFIX
#
# Wine's mount manager is switched off in the project's prefixes: it maps
# every serial port it finds on the machine into the prefix, and one of them
# always escapes the registry's port settings. Without it, the prefix has
# exactly the COM links that wine-prefix.sh makes.
export WINEPREFIX="$(realpath -m "$1")"
export WINEDEBUG=-all
# ZELBIN_WINEDLLOVERRIDES adds a test's own overrides to these.
export WINEDLLOVERRIDES="mscoree,mshtml,mountmgr.sys=${ZELBIN_WINEDLLOVERRIDES:+;$ZELBIN_WINEDLLOVERRIDES}"
