#!/bin/sh
# A Slurm cluster of one node, this machine, for trying the job-array form
# of the shard recipe (and for checking it) without a real cluster:
# munged, slurmctld and slurmd started directly, without systemd, with every
# file they keep (key, sockets, configuration, state, logs) in one folder.
#
# Usage: local-slurm.sh [--port N] start DIR
#        local-slurm.sh stop DIR
#        local-slurm.sh status DIR
#
#   start   start the three daemons with their files in DIR (made when
#           missing), unless they already run there, and wait until the
#           node takes jobs; then print the configuration's path, for
#             SLURM_CONF=$(local-slurm.sh start DIR); export SLURM_CONF
#           so that sbatch, squeue and scancel talk to this cluster
#   stop    stop the daemons that run from DIR (nothing when none does)
#   status  exit 0 when the cluster of DIR takes jobs, 1 when it does not
#   --port N  slurmctld listens on port N and slurmd on N+1 (default 6817)
#
# It runs as root (slurmd starts the jobs as the user who submits them) on a
# machine with the Debian packages slurm-wlm and munge.  One partition,
# "shards", holds the node with every CPU of the machine; there are no
# cgroups (proctrack/linuxproc, task/none) and no accounting.
set -eu

port=6817

usage() {
  echo "usage: $0 [--port N] start|stop|status DIR" >&2
  exit 2
}

fail() {
  printf 'local-slurm.sh: %s\n' "$*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case $1 in
    --port)
      [ $# -ge 2 ] || usage
      case $2 in '' | *[!0-9]*) usage ;; esac
      port=$2
      shift 2
      ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || usage
command=$1
dir=$2
case $command in start | stop | status) ;; *) usage ;; esac

conf=$dir/slurm.conf
host=$(hostname -s)

# alive NAME: the daemon whose pid file is DIR/NAME.pid runs.
alive() {
  [ -s "$dir/$1.pid" ] && kill -0 "$(cat "$dir/$1.pid")" 2>/dev/null
}

# ready: the controller answers and the node takes jobs.
ready() {
  alive munged && alive slurmctld && alive slurmd || return 1
  SLURM_CONF=$conf scontrol ping 2>/dev/null | grep -q 'is UP' || return 1
  state=$(SLURM_CONF=$conf sinfo -h -n "$host" -o %t 2>/dev/null) || return 1
  case $state in idle | mix | alloc) return 0 ;; *) return 1 ;; esac
}

# wait_for SECONDS CONDITION...: true as soon as the condition holds.
wait_for() {
  seconds=$1
  shift
  while ! "$@"; do
    [ "$seconds" -gt 0 ] || return 1
    seconds=$((seconds - 1))
    sleep 1
  done
}

none_alive() {
  ! alive slurmctld && ! alive slurmd
}

stop() {
  [ -d "$dir" ] || return 0
  if alive slurmctld; then
    SLURM_CONF=$conf scontrol shutdown >/dev/null 2>&1 || true
  fi
  wait_for 30 none_alive || true
  # What did not shut down when asked is ended by its own pid.
  for daemon in slurmd slurmctld; do
    if alive "$daemon"; then
      kill "$(cat "$dir/$daemon.pid")" 2>/dev/null || true
    fi
  done
  wait_for 10 none_alive || fail "slurmctld or slurmd of $dir does not stop"
  if alive munged; then
    munged --stop --socket="$dir/munge.socket" >/dev/null 2>&1 ||
      kill "$(cat "$dir/munged.pid")" 2>/dev/null || true
  fi
  rm -f "$dir/slurmctld.pid" "$dir/slurmd.pid"
}

write_configuration() {
  cpus=$(getconf _NPROCESSORS_ONLN)
  cat > "$conf.new" <<END
ClusterName=pcgrid
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge.socket
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SwitchType=switch/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=shards Nodes=$host Default=YES MaxTime=INFINITE State=UP
END
  mv "$conf.new" "$conf"
}

start() {
  if ready; then
    printf '%s\n' "$conf"
    return 0
  fi
  [ "$(id -u)" -eq 0 ] || fail "slurmd starts jobs as their users: run this as root"
  for program in munged slurmctld slurmd scontrol sinfo; do
    command -v "$program" >/dev/null 2>&1 ||
      fail "no $program: on Debian, apt-get install --no-install-recommends slurm-wlm munge"
  done
  stop
  mkdir -p "$dir/state" "$dir/spool"
  # munged refuses a socket in a folder that others cannot pass through.
  chmod 755 "$dir"
  if [ ! -s "$dir/munge.key" ]; then
    (umask 077 && dd if=/dev/urandom of="$dir/munge.key" bs=1024 count=1 2>/dev/null) ||
      fail "cannot write $dir/munge.key"
  fi
  write_configuration
  if ! alive munged; then
    munged --socket="$dir/munge.socket" --key-file="$dir/munge.key" \
      --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" \
      --seed-file="$dir/munged.seed" ||
      fail "munged did not start (see $dir/munged.log)"
  fi
  slurmctld -f "$conf" || fail "slurmctld did not start (see $dir/slurmctld.log)"
  slurmd -f "$conf" || fail "slurmd did not start (see $dir/slurmd.log)"
  wait_for 60 ready ||
    fail "the node of $dir does not take jobs (see $dir/slurmctld.log and $dir/slurmd.log)"
  printf '%s\n' "$conf"
}

case $command in
  start) start ;;
  stop) stop ;;
  status) ready ;;
esac
