#!/usr/bin/env bash
# The updater against a local demo network: publishes a demo package (a run
# script that says it was installed and prints its arguments) and a skin for
# the two partners of the demo string table, starts the local network, runs
# orbiq-update against it (the window when a display is available, else the
# terminal) and stops the network when the updater exits.
#   tests/support/demo.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
updater="$build/updater/orbiq-update"
publisher="$build/tools/publish/vrexa-publish"
for program in "$updater" "$publisher"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is not built (./run.sh build)" >&2
    exit 1
  fi
done

# The identifiers the updater is built with.
strings="$root/resources/strings/demo.strings"
value() { sed -n "s/^$1=//p" "$strings" | head -n 1; }
package_partner=$(value 103)
skin_partner=$(value 104)
skin_package=$(value 107)
package=$(value 108)

work=$(mktemp -d "${TMPDIR:-/tmp}/vrexa-demo.XXXXXX")
network=""
cleanup() {
  if [ -n "$network" ]; then tests/support/network/stop "$network" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$root"

mkdir -p "$work/package/bin" "$work/skin/images"
cat >"$work/package/bin/install.sh" <<'SCRIPT'
#!/bin/sh
echo "Zazid demo package installed in $(pwd)"
for argument in "$@"; do
  printf '  argument: %s\n' "$argument"
done
SCRIPT
chmod +x "$work/package/bin/install.sh"
# Some bytes to download, so the progress bar has something to show.
head -c 6000000 /dev/urandom >"$work/package/maps.dat"
head -c 400000 /dev/urandom >"$work/skin/images/background.dat"
echo "Zazid demo skin" >"$work/skin/skin.txt"

"$publisher" --partner "$package_partner" --package "$package" --version 1.0 --name Zazid \
  --run bin/install.sh --chunk-size 262144 "$work/package" "$work/tree" >/dev/null
"$publisher" --partner "$skin_partner" --package "$skin_package" --version 1.0 --name "Zazid skin" \
  --chunk-size 262144 "$work/skin" "$work/tree" >/dev/null

eval "$(tests/support/network/start --tree "$work/tree" --partner "$package_partner" \
  --partner "$skin_partner" --publisher "$publisher" --watch-pid $$)"
network=$VREXA_NETWORK_DIR

ui=tty
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then ui=""; fi
echo "demo: the updater keeps its files in $work/cache until the demo ends"
status=0
env XDG_CACHE_HOME="$work/cache" VREXA_UI="$ui" \
  VREXA_MANIFEST_HOST="$VREXA_MANIFEST_HOST" VREXA_GEOLOCATION_URL="$VREXA_GEOLOCATION_URL" \
  VREXA_EVENTS_ANALYTICS_URL="$VREXA_EVENTS_ANALYTICS_URL" \
  VREXA_TRANSFER_ANALYTICS_URL="$VREXA_TRANSFER_ANALYTICS_URL" \
  "$updater" || status=$?
echo "demo: orbiq-update exited with $status"
