#!/usr/bin/env bash
# Measures how long the main thread stalls in four scenarios on a large folder, how long the
# application takes from exec to its main window on screen, on an optimised build of its own
# (build/benchmark), and the SMB mount's speed against smbclient (scripts/benchmark-smb.sh).
# Opt-in: the test suite does not run it.
#   bash scripts/benchmark.sh [--files N] [--queue-seconds S] [--shares N] [--launches N]
#                             [--only scenarios|start-up|smb] [--app PATH] [--smb-runs N]
# --files: the folder's size (20000); --queue-seconds: how long the queue runs (5);
# --shares: the share configurations of the start-up (50); --launches: launches of each program
# whose median is the start-up figure (7, after one to warm the disk cache); --app: the application
# binary whose start-up is timed (another build, to compare; the one built here by default);
# --smb-runs: how many times each SMB case runs (3).
# Prints, one line each:
#   benchmark NAME: longest stall N ms, main-thread CPU N ms, wall N ms
#     (NAME: first-listing, unchanged-refresh, folder-download, running-queue)
#   benchmark start-up: window mapped N ms, bare Qt window N ms
#   benchmark smb-NAME: ratio R (mount T s, smbclient T s, link L), and their summary
# The programs' own log goes to build/benchmark/benchmark.log.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/test-bus.sh

files=20000
queue_seconds=5
shares=50
launches=7
only=""
app=""
smb_runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --files) files=$2; shift 2 ;;
    --queue-seconds) queue_seconds=$2; shift 2 ;;
    --shares) shares=$2; shift 2 ;;
    --launches) launches=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --app) app=$(realpath "$2"); shift 2 ;;
    --smb-runs) smb_runs=$2; shift 2 ;;
    *)
      echo "usage: scripts/benchmark.sh [--files N] [--queue-seconds S] [--shares N] [--launches N]" \
        "[--only scenarios|start-up|smb] [--app PATH] [--smb-runs N]" >&2
      exit 2
      ;;
  esac
done

bash scripts/setup.sh --benchmark
if [ "$only" = smb ]; then
  exec bash scripts/benchmark-smb.sh --runs "$smb_runs"
fi
cmake --preset benchmark >/dev/null
cmake --build build/benchmark -j "${VANTREL_BUILD_JOBS:-3}" \
  --target vantrel vantrel_benchmark vantrel_bare_window vantrel_map_probe >/dev/null

build=$PWD/build/benchmark
[ -n "$app" ] || app=$build/bin/vantrel
logfile=$build/benchmark.log
: >"$logfile"
home=$(mktemp -d)
# A session's runtime folder is a memory file system (the instance lock is synced there at every
# launch): on a disk it would time the disk.
runtime=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$home" "$runtime"
}
trap cleanup EXIT
chmod 0700 "$runtime"
mkdir -p -m 0700 "$home/tmp"
bus_config=$(write_test_bus_config "$home/bus")

# A private home: nothing reads or writes the user's settings, cache, logs or session.
private_env=(env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
  XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state" XDG_RUNTIME_DIR="$runtime"
  TMPDIR="$home/tmp" NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0)

# The scenarios, on the browser window drawn offscreen.
if [ "$only" != start-up ]; then
  "${private_env[@]}" QT_QPA_PLATFORM=offscreen dbus-run-session --config-file="$bus_config" -- \
    "$build/benchmarks/vantrel_benchmark" scenarios --files "$files" --queue-seconds "$queue_seconds" \
    --folder "$build/work" 2>>"$logfile"
fi
[ "$only" = scenarios ] && exit 0

# The start-up: the real application with the shares stored, against a bare Qt window, each timed
# from exec to its window mapped on a virtual X server without a window manager.
"${private_env[@]}" QT_QPA_PLATFORM=offscreen "$build/benchmarks/vantrel_benchmark" write-shares "$shares" 2>>"$logfile"
exec 3< <(Xvfb -displayfd 1 -screen 0 1600x1200x24 -dpi 96 -nolisten tcp 2>>"$logfile")
xvfb_pid=$!
read -r -t 20 display <&3 || { echo "Xvfb did not start (see $logfile)" >&2; exit 1; }

# The median of the given column.
median() { awk -v c="$1" '{print $c}' | sort -n | awk '{v[NR]=$1} END {printf "%.0f", (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

"${private_env[@]}" DISPLAY=":$display" QT_QPA_PLATFORM=xcb dbus-run-session --config-file="$bus_config" -- bash -c '
  set -euo pipefail
  probe=$1 app=$2 bare=$3 launches=$4 out=$5
  : >"$out.app"; : >"$out.bare"
  for i in $(seq 0 "$launches"); do
    a=$("$probe" "$app") ; b=$("$probe" "$bare")
    # The first of each only warms the caches.
    if [ "$i" -gt 0 ]; then echo "$a" >>"$out.app"; echo "$b" >>"$out.bare"; fi
  done
' startup "$build/benchmarks/vantrel_map_probe" "$app" "$build/benchmarks/vantrel_bare_window" \
  "$launches" "$home/startup" 2>>"$logfile"

echo "benchmark start-up: window mapped $(median 1 <"$home/startup.app") ms, bare Qt window $(median 1 <"$home/startup.bare") ms"
# The same on the CPU, which a loaded machine disturbs less: the main thread's time until mapped.
echo "benchmark start-up main-thread CPU: window mapped $(median 2 <"$home/startup.app") ms," \
  "bare Qt window $(median 2 <"$home/startup.bare") ms"

# The SMB measurement cleans up after itself (a server, a mount, a network namespace): its own
# script with its own traps.
[ "$only" = start-up ] || bash scripts/benchmark-smb.sh --runs "$smb_runs"
