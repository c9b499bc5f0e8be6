#!/usr/bin/env bash
# The SMB mount (vantrel-smbfs of the benchmark build) against smbclient, both talking to a
# private Samba server this script starts, on loopback and, as root, on links of 1 and 2.5 Gbit/s
# shaped by tc in a network namespace of its own. Run by scripts/benchmark.sh; alone:
#   bash scripts/benchmark-smb.sh [--runs N] [--links "loop 1gbit 2.5gbit"] [--smbfs PATH]
#                                 [--profile DIR]
# --runs: how many times every case runs (3); the closing summary gives min/median/max.
# --smbfs: the daemon to measure (the one of build/benchmark by default).
# --profile: record the daemon with perf during the first run's 1 GiB down and up on loopback,
#   and write the reports into DIR.
# Prints per case and run:
#   benchmark smb-NAME: ratio R (mount T s, smbclient T s, link L)
# R = smbclient's time / the mount's, higher is better; NAME = case-direction-link. The 1 GiB cases
# add the CPU seconds per GiB of the daemon process beside smbclient's. The tools' output goes to
# build/benchmark/benchmark-smb.log.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
links="loop 1gbit 2.5gbit"
smbfs=""
profile=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --links) links=$2; shift 2 ;;
    --smbfs) smbfs=$(realpath "$2"); shift 2 ;;
    --profile) profile=$(realpath -m "$2"); shift 2 ;;
    *)
      echo "usage: scripts/benchmark-smb.sh [--runs N] [--links \"loop 1gbit 2.5gbit\"] [--smbfs PATH]" \
        "[--profile DIR]" >&2
      exit 2
      ;;
  esac
done

build=$PWD/build/benchmark
mkdir -p "$build"
log=$build/benchmark-smb.log
: >"$log"

if [ -z "$smbfs" ]; then
  cmake --preset benchmark >/dev/null
  if cmake --build "$build" --target help | grep -q '^vantrel-smbfs:'; then
    cmake --build "$build" -j "${VANTREL_BUILD_JOBS:-3}" --target vantrel-smbfs >>"$log" 2>&1 ||
      echo "benchmark smb: vantrel-smbfs did not build (see $log)" >&2
  fi
  smbfs=$(find "$build" -name vantrel-smbfs -type f -perm -u+x 2>/dev/null | head -n 1)
fi

for tool in smbd pdbedit smbclient; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || {
    echo "benchmark smb: $tool is missing (bash scripts/setup.sh --benchmark)" >&2
    exit 1
  }
done
PATH=$PATH:/usr/sbin:/sbin

root=0
[ "$(id -u)" -eq 0 ] && root=1
if [ "$root" = 0 ] && [ "$links" != loop ]; then
  echo "benchmark smb: not root, so no shaped links: loopback only"
  links=loop
fi

# Everything of the run lives in two private folders: the servers' state (short, as smbd's socket
# paths may not exceed 107 bytes) and the data, on a memory file system so that neither side waits
# for a disk and dropping the page cache leaves the share's files in place.
state=$(mktemp -d /tmp/vantrel-bench-smb-XXXXXX)
data=$(mktemp -d -p /dev/shm vantrel-bench-smb-XXXXXX 2>/dev/null || mktemp -d)
share=$data/share
local_dir=$data/local
mnt=$state/mnt
mkdir -p "$share" "$local_dir" "$mnt"
netns=""
host_veth=""
smbd_pids=()
daemon_pid=""
perf_pid=""

unmount() {
  mountpoint -q "$mnt" 2>/dev/null || { daemon_pid=""; return 0; }
  fusermount3 -u "$mnt" 2>>"$log" || fusermount3 -u -z "$mnt" 2>>"$log" || true
  # The daemon ends by itself once unmounted.
  if [ -n "$daemon_pid" ]; then
    for _ in $(seq 100); do kill -0 "$daemon_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  daemon_pid=""
}

cleanup() {
  set +e
  [ -n "$perf_pid" ] && kill -INT "$perf_pid" 2>/dev/null && wait "$perf_pid" 2>/dev/null
  unmount
  for pid in "${smbd_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    # Its connection workers share its process group (it leads a session of its own).
    kill -KILL -- "-$pid" 2>/dev/null
  done
  [ -n "$netns" ] && ip netns del "$netns" 2>/dev/null
  [ -n "$host_veth" ] && ip link del "$host_veth" 2>/dev/null
  rm -rf "$state" "$data"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

user=$(id -un)
password="bench-$RANDOM$RANDOM"
auth=$state/auth
(umask 077 && printf 'username = %s\npassword = %s\n' "$user" "$password" >"$auth")

free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    ss -ltnH "sport = :$port" 2>/dev/null | grep -q . || { echo "$port"; return; }
  done
}

# start_smbd NAME ADDRESS PORT [NETNS]: one server instance with its own configuration and state.
start_smbd() {
  local name=$1 address=$2 port=$3 ns=${4:-} dir=$state/$1
  mkdir -p "$dir"/{lock,state,cache,private,pid,ncalrpc,binddns,usershares}
  cat >"$dir/smb.conf" <<EOF
[global]
  interfaces = $address
  bind interfaces only = yes
  smb ports = $port
  server role = standalone server
  disable netbios = yes
  passdb backend = tdbsam:$dir/private/passdb.tdb
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  pid directory = $dir/pid
  private dir = $dir/private
  ncalrpc dir = $dir/ncalrpc
  binddns dir = $dir/binddns
  usershare path = $dir/usershares
  log file = $dir/smbd.log
  log level = 1
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
[bench]
  path = $share
  read only = no
  guest ok = no
EOF
  printf '%s\n%s\n' "$password" "$password" | pdbedit -s "$dir/smb.conf" -a -t -u "$user" >>"$log" 2>&1
  local in_ns=()
  [ -n "$ns" ] && in_ns=(ip netns exec "$ns")
  setsid "${in_ns[@]}" smbd --foreground --no-process-group -s "$dir/smb.conf" </dev/null >>"$dir/smbd.out" 2>&1 &
  smbd_pids+=($!)
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; then return 0; fi
    kill -0 "${smbd_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "benchmark smb: smbd ($name) did not start:" >&2
  cat "$dir/smbd.out" "$dir/smbd.log" >&2 2>/dev/null || true
  exit 1
}

loop_port=$(free_port)
start_smbd loop 127.0.0.1 "$loop_port"

# The shaped links: the server in a namespace of its own behind a veth pair, each end's egress
# limited by a token bucket (the client's end for uploads, the server's for downloads).
net_address=""
if [ "$links" != loop ]; then
  netns=vantrel-bench-$$
  host_veth=vbench$$h
  octet=$((16 + $$ % 200))
  host_address=10.254.$octet.1
  net_address=10.254.$octet.2
  ip netns add "$netns"
  ip link add "$host_veth" type veth peer name vbench-srv netns "$netns"
  ip addr add "$host_address/30" dev "$host_veth"
  ip link set "$host_veth" up
  ip -n "$netns" addr add "$net_address/30" dev vbench-srv
  ip -n "$netns" link set vbench-srv up
  ip -n "$netns" link set lo up
  start_smbd net "$net_address" 445 "$netns"
fi

shape() {
  local rate=$1 burst=$2
  tc qdisc replace dev "$host_veth" root tbf rate "$rate" burst "$burst" latency 20ms
  ip netns exec "$netns" tc qdisc replace dev vbench-srv root tbf rate "$rate" burst "$burst" latency 20ms
}

# The data: 1 GiB of random bytes, 2,000 files of 4 KiB, and a folder of 20,000 files on the server.
echo "benchmark smb: preparing the data" >>"$log"
head -c 1G /dev/urandom >"$local_dir/big"
mkdir -p "$local_dir/small" "$share/small" "$share/list"
head -c $((2000 * 4096)) /dev/urandom | (cd "$local_dir/small" && split -b 4096 -a 4 -d - file-)
cp "$local_dir/big" "$share/big"
cp -r "$local_dir/small/." "$share/small/"
(cd "$share/list" && seq -f "file-%05g.txt" 0 19999 | xargs touch)
small_bytes=$((2000 * 4096))

drop_caches() {
  sync
  if [ "$root" = 1 ]; then echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true; fi
}

mount_error=""
# A fresh mount with a cold page cache, so that every read goes to the server.
remount() {
  unmount
  drop_caches
  mount_error=""
  if [ -z "$smbfs" ]; then
    mount_error="vantrel-smbfs is not built"
    return 1
  fi
  local status=0
  printf 'user=%s\npassword=%s\n' "$user" "$password" |
    "$smbfs" --credentials-stdin -- "//$server:$port/bench" "$mnt" >>"$log" 2>"$state/mount.err" || status=$?
  cat "$state/mount.err" >>"$log"
  if [ "$status" != 0 ] || ! mountpoint -q "$mnt"; then
    mount_error="exit $status: $(head -n 1 "$state/mount.err")"
    return 1
  fi
  daemon_pid=$(pgrep -f -- " $mnt\$" | head -n 1 || true)
  [ -n "$daemon_pid" ] || { mount_error="no vantrel-smbfs process serves the mount"; return 1; }
}

ticks_per_second=$(getconf CLK_TCK)
# The CPU ticks (user + system, all threads) the process has used.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }

# timed FILE COMMAND...: runs it, writes "wall user system" seconds (of it and its children) to FILE.
timed() {
  local out=$1
  shift
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >>"$log" 2>&1; } 2>"$out"
}

smbclient_run() { smbclient "//$server/bench" -p "$port" -A "$auth" -c "$1"; }

size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
files_and_bytes() { find "$1" -type f -printf '%s\n' 2>/dev/null | awk '{n++; b+=$1} END {print n+0, b+0}'; }

# Each case: clean_CASE, client_CASE, mount_CASE, check_CASE where (the side's target) says
# whether the copy is whole.
clean_1g-up() { rm -f "$share/up-client" "$share/up-mount"; }
client_1g-up() { smbclient_run "lcd $local_dir; put big up-client"; }
mount_1g-up() { cp "$local_dir/big" "$mnt/up-mount"; }
check_1g-up() { cmp -s "$local_dir/big" "$share/up-$1"; }

clean_1g-down() { rm -f "$local_dir/down-client" "$local_dir/down-mount"; }
client_1g-down() { smbclient_run "lcd $local_dir; get big down-client"; }
mount_1g-down() { cp "$mnt/big" "$local_dir/down-mount"; }
check_1g-down() { cmp -s "$local_dir/big" "$local_dir/down-$1"; }

clean_small-up() { rm -rf "$share/up-client-small" "$share/up-mount-small"; }
client_small-up() { smbclient_run "mkdir up-client-small; cd up-client-small; lcd $local_dir/small; prompt; mput *"; }
mount_small-up() { cp -r "$local_dir/small" "$mnt/up-mount-small"; }
check_small-up() { [ "$(files_and_bytes "$share/up-$1-small")" = "2000 $small_bytes" ]; }

clean_small-down() { rm -rf "$local_dir/down-client-small" "$local_dir/down-mount-small"; }
client_small-down() {
  mkdir -p "$local_dir/down-client-small"
  smbclient_run "cd small; lcd $local_dir/down-client-small; prompt; mget *"
}
mount_small-down() { cp -r "$mnt/small" "$local_dir/down-mount-small"; }
check_small-down() { [ "$(files_and_bytes "$local_dir/down-$1-small")" = "2000 $small_bytes" ]; }

clean_list-20k() { :; }
client_list-20k() { smbclient_run "cd list; ls" >"$state/list-client"; }
mount_list-20k() { ls -l "$mnt/list" >"$state/list-mount"; }
check_list-20k() {
  if [ "$1" = client ]; then
    [ "$(grep -c ' file-[0-9]*\.txt ' "$state/list-client")" = 20000 ]
  else
    [ "$(grep -c ' file-[0-9]*\.txt$' "$state/list-mount")" = 20000 ]
  fi
}

results=$state/results
cpu_results=$state/cpu-results
: >"$results"
: >"$cpu_results"

# measure CASE LINK: one run of the case on both sides.
measure() {
  local case=$1 link=$2 name=$1-$2 label
  case "$link" in
    loop) label=loopback ;;
    1gbit) label="1 Gbit/s" ;;
    2.5gbit) label="2.5 Gbit/s" ;;
  esac
  "clean_$case"
  drop_caches
  local client_time client_cpu
  if ! timed "$state/time" "client_$case" || ! "check_$case" client; then
    echo "benchmark smb-$name: smbclient failed (see $log)"
    "clean_$case"
    return 0
  fi
  read -r client_time client_user client_system <"$state/time"
  client_cpu=$(awk -v u="$client_user" -v s="$client_system" 'BEGIN {print u + s}')

  if ! remount; then
    echo "benchmark smb-$name: mount failed: $mount_error (smbclient $client_time s, link $label)"
    [[ $case == 1g-* ]] && echo "benchmark smb-$name CPU: mount -, smbclient $client_cpu s/GiB"
    echo "$name fail $client_time" >>"$results"
    "clean_$case"
    return 0
  fi
  local before after status=0
  before=$(cpu_ticks "$daemon_pid")
  if [ -n "$profile" ] && [ "$run" = 1 ] && [ "$link" = loop ] && [[ $case == 1g-* ]]; then
    mkdir -p "$profile"
    perf record --call-graph dwarf -F 499 -o "$profile/$case.data" -p "$daemon_pid" >>"$log" 2>&1 &
    perf_pid=$!
    sleep 1
  fi
  timed "$state/time" "mount_$case" || status=$?
  after=$(cpu_ticks "$daemon_pid" 2>/dev/null || echo "$before")
  if [ -n "$perf_pid" ]; then
    kill -INT "$perf_pid" 2>/dev/null
    wait "$perf_pid" 2>/dev/null || true
    perf_pid=""
    perf report -i "$profile/$case.data" --no-children --stdio --percent-limit 0.5 \
      >"$profile/$case.txt" 2>>"$log" || true
    perf report -i "$profile/$case.data" --no-children --stdio --sort dso \
      >"$profile/$case-dso.txt" 2>>"$log" || true
  fi
  # Checked while still mounted: what close() acknowledged must be on the server already.
  if [ "$status" != 0 ] || ! "check_$case" mount; then
    unmount
    echo "benchmark smb-$name: mount failed: the copy through the mount is not whole (exit $status," \
      "see $log; smbclient $client_time s, link $label)"
    echo "$name fail $client_time" >>"$results"
    "clean_$case"
    return 0
  fi
  unmount
  local mount_time
  read -r mount_time _ <"$state/time"
  local ratio
  ratio=$(awk -v c="$client_time" -v m="$mount_time" 'BEGIN {printf "%.2f", (m > 0) ? c / m : 0}')
  echo "benchmark smb-$name: ratio $ratio (mount $mount_time s, smbclient $client_time s, link $label)"
  echo "$name $ratio $mount_time $client_time" >>"$results"
  if [[ $case == 1g-* ]]; then
    awk -v b="$before" -v a="$after" -v t="$ticks_per_second" -v c="$client_cpu" -v n="$name" 'BEGIN {
      printf "benchmark smb-%s CPU: mount %.2f s/GiB, smbclient %.2f s/GiB\n", n, (a - b) / t, c }' |
      tee -a "$cpu_results"
  fi
  "clean_$case"
}

cases=(1g-up 1g-down small-up small-down list-20k)
for run in $(seq "$runs"); do
  for link in $links; do
    case "$link" in
      loop) server=127.0.0.1 port=$loop_port ;;
      1gbit) server=$net_address port=445; shape 1gbit 256kb ;;
      2.5gbit) server=$net_address port=445; shape 2500mbit 640kb ;;
      *) echo "benchmark smb: unknown link $link (loop, 1gbit, 2.5gbit)" >&2; exit 2 ;;
    esac
    for case in "${cases[@]}"; do measure "$case" "$link"; done
  done
done

# The CPU per GiB over the runs: "benchmark smb-NAME CPU: mount M s/GiB, smbclient C s/GiB".
awk '
  function median(list, c,   a, b, t) {
    for (a = 1; a <= c; a++) for (b = a + 1; b <= c; b++) if (list[b] < list[a]) { t = list[a]; list[a] = list[b]; list[b] = t }
    return (c % 2) ? list[(c + 1) / 2] : (list[c / 2] + list[c / 2 + 1]) / 2
  }
  { name = substr($2, 5); if (!(name in seen)) { seen[name] = 1; order[++n] = name }
    k = ++count[name]; m[name, k] = $5 + 0; c[name, k] = $8 + 0 }
  END {
    for (i = 1; i <= n; i++) {
      name = order[i]; k = count[name]
      for (a = 1; a <= k; a++) { mv[a] = m[name, a]; cv[a] = c[name, a] }
      printf "benchmark smb-%s CPU over %d runs: mount median %.2f s/GiB, smbclient median %.2f s/GiB\n",
        name, k, median(mv, k), median(cv, k)
    }
  }' "$cpu_results"

# The closing summary: min/median/max of each line over the runs, and the goals.
awk -v runs="$runs" '
  function goal(name) {
    if (name ~ /^1g-/) return 0.9
    if (name ~ /^small-/) return 0.8
    return 0.67
  }
  { if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }
    if ($2 == "fail") failed[$1]++; else { k = ++count[$1]; r[$1, k] = $2 } }
  END {
    for (i = 1; i <= n; i++) {
      name = order[i]; c = count[name]
      if (c == 0) { printf "benchmark smb-%s over %d runs: mount failed\n", name, runs; met[name] = 0; continue }
      for (a = 1; a <= c; a++) v[a] = r[name, a] + 0
      for (a = 1; a <= c; a++) for (b = a + 1; b <= c; b++) if (v[b] < v[a]) { t = v[a]; v[a] = v[b]; v[b] = t }
      med = (c % 2) ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2
      met[name] = (med >= goal(name) && !failed[name])
      printf "benchmark smb-%s over %d runs: ratio min %.2f, median %.2f, max %.2f%s (goal %.2f: %s)\n",
        name, runs, v[1], med, v[c], failed[name] ? sprintf(", %d failed", failed[name]) : "",
        goal(name), met[name] ? "met" : "not met"
    }
    split("1g-|small-|list-", prefixes, "|")
    split("1 GiB up and down >= 0.9x smbclient|2,000 x 4 KiB up and down >= 0.8x smbclient|ls -l of 20,000 files <= 1.5x smbclient ls (ratio >= 0.67)", titles, "|")
    for (p = 1; p <= 3; p++) {
      missed = ""; total = 0
      for (i = 1; i <= n; i++) if (index(order[i], prefixes[p]) == 1) { total++; if (!met[order[i]]) missed = missed " " order[i] }
      if (total == 0) continue
      printf "benchmark smb goal %s: %s\n", titles[p], missed == "" ? "met" : "not met (missed by" missed ")"
    }
  }' "$results"

