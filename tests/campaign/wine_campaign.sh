#!/bin/sh
# The fault campaign under Wine, in the Wine stage (scripts/wine.sh has made
# the prefix and exported the Linux simulator's path): the Linux campaign,
# built beside that simulator, keeps the simulated device and checks every
# promise; this build's tarvik-campaign.exe performs each reflash as its
# agent, through the Windows serial layer, behind COM10 of the prefix; a
# device without faults behind COM11 takes the agent's first reflash, after
# which it counts its handles and threads.
#   wine_campaign.sh WINE AGENT
# TARVIK_CAMPAIGN_WINE_RUNS runs (default 10) from TARVIK_CAMPAIGN_WINE_SEED
# (default: drawn from the time). Exits 77 (skipped) without the stage.
set -u
wine=$1 agent=$2
if [ -z "${TARVIK_WIN_SIM:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "no Wine stage: run through scripts/wine.sh"
  exit 77
fi
campaign=$(cd "$(dirname "$TARVIK_WIN_SIM")/.." && pwd)/campaign/tarvik-campaign
if [ ! -x "$campaign" ]; then
  echo "FAILED: no Linux campaign at $campaign (build tarvik-campaign beside tarvik-sim)"
  exit 1
fi
runs=${TARVIK_CAMPAIGN_WINE_RUNS:-10}
seed=${TARVIK_CAMPAIGN_WINE_SEED:-$(($(date +%s) % 1000000000))}
work=$(mktemp -d)
com=$WINEPREFIX/dosdevices/com10
warm=$WINEPREFIX/dosdevices/com11
cleanup() {
  [ -L "$com" ] && [ "$(readlink "$com")" = "$work/port" ] && rm -f "$com"
  [ -L "$warm" ] && [ "$(readlink "$warm")" = "$work/warm" ] && rm -f "$warm"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/files"
# Each run's device publishes itself at this link anew.
ln -sfn "$work/port" "$com"
ln -sfn "$work/warm" "$warm"
"$campaign" --seed "$seed" --runs "$runs" --agent "$wine" --agent "$agent" --agent-port COM10 \
  --port-link "$work/port" --warm-up-port COM11 --warm-up-link "$work/warm" --wine-paths \
  --work-dir "$work/files" ${TARVIK_CAMPAIGN_WINE_FLAGS:-}
rc=$?
if [ "$rc" -ne 0 ]; then
  echo "FAILED: replay a run N in the Wine stage with"
  echo "  TARVIK_CAMPAIGN_WINE_SEED=N TARVIK_CAMPAIGN_WINE_RUNS=1 TARVIK_CAMPAIGN_WINE_FLAGS=--verbose sh $0 $wine $agent"
fi
exit "$rc"
