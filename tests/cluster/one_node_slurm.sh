# A one-node Slurm cluster for a test, sourced: everything in one folder (its
# slurm.conf, munge key and socket, state, logs), on the loopback interface
# only, on two free ports; munged, slurmctld and slurmd are children of the
# test, stopped by their process ids. Clients find it through SLURM_CONF.
#   . one_node_slurm.sh; start_slurm DIR; ...; stop_slurm
# Needs root (slurmd starts the jobs' steps) and Debian's slurmctld, slurmd,
# slurm-client and munge.

slurm_pids=()

# A TCP port nothing listens on, from the range Linux does not hand out to
# outgoing connections.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 12000))
    ss -Htln "sport = :$port" | grep -q . || { echo "$port"; return; }
  done
}

start_slurm() {
  local dir=$1 cpus
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool"
  chmod 711 "$dir/munge"
  # As many processors as the machine has, at least 2, so that the recipe's
  # tasks fit on any test machine (config_overrides trusts this number).
  cpus=$(nproc)
  [ "$cpus" -ge 2 ] || cpus=2
  head -c 1024 /dev/urandom > "$dir/munge/munge.key"
  chmod 600 "$dir/munge/munge.key"
  munged -F --force --socket="$dir/munge/munge.socket" --key-file="$dir/munge/munge.key" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/seed" >"$dir/munge/munged.out" 2>&1 &
  slurm_pids+=($!)

  local host user
  host=$(hostname -s)
  user=$(id -un)
  cat > "$dir/slurm.conf" <<CONF
ClusterName=velbrin-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
CommunicationParameters=NoInAddrAny
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
SlurmUser=$user
SlurmdUser=$user
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
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
ReturnToService=2
MpiDefault=none
MinJobAge=600
NodeName=velbrin-node NodeAddr=127.0.0.1 NodeHostname=$host CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=velbrin-node Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$dir/slurm.conf
  for _ in $(seq 50); do [ -S "$dir/munge/munge.socket" ] && break; sleep 0.1; done
  slurmctld -D -i -f "$SLURM_CONF" >"$dir/slurmctld.out" 2>&1 &
  slurm_pids+=($!)
  slurmd -D -N velbrin-node -f "$SLURM_CONF" >"$dir/slurmd.out" 2>&1 &
  slurm_pids+=($!)
  # Ready when the node takes jobs.
  local state
  for _ in $(seq 120); do
    state=$(sinfo -h -N -o '%t' 2>/dev/null || true)
    [ "$state" = idle ] && return 0
    sleep 0.5
  done
  echo "the Slurm node did not come up (state '$state'); slurmctld's and slurmd's logs:" >&2
  tail -n 20 "$dir/slurmctld.log" "$dir/slurmd.log" >&2 || true
  return 1
}

# Stops the daemons, last started first, and waits for each; jobs still
# running (a failed test) are cancelled first, so that no step outlives them.
stop_slurm() {
  local i
  [ ${#slurm_pids[@]} -gt 0 ] && { scancel --full -u "$(id -un)" 2>/dev/null || true; sleep 1; }
  for ((i = ${#slurm_pids[@]} - 1; i >= 0; --i)); do
    kill "${slurm_pids[i]}" 2>/dev/null || true
    wait "${slurm_pids[i]}" 2>/dev/null || true
  done
  slurm_pids=()
}

# Waits until no job of the cluster is left queued or running (at most
# $1 seconds).
wait_for_jobs() {
  local t
  for ((t = 0; t < $1 * 2; ++t)); do
    [ -z "$(squeue -h -o '%i' 2>/dev/null)" ] && return 0
    sleep 0.5
  done
  echo "jobs still queued after $1 s:" >&2
  squeue >&2 || true
  return 1
}
