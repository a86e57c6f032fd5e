#!/usr/bin/env bash
# Runs the forwarding benchmark with an SSH local-forward baseline: a private sshd on a loopback
# port with a generated host key and user key in a temporary folder, one ssh master connection
# that the benchmark adds its -L forwards to, all stopped at the end. Bounded by a time limit.
#
# usage: bench/run-ssh-baseline.sh BENCH_PROGRAM [benchmark options...]
set -euo pipefail

prog=${1:?usage: $0 BENCH_PROGRAM [benchmark options...]}
shift
limit=${VANTREL_BENCH_LIMIT:-1800}

if ! command -v sshd >/dev/null 2>&1 && [ ! -x /usr/sbin/sshd ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get install -y --no-install-recommends openssh-server openssh-client
fi
sshd_bin=$(command -v sshd || echo /usr/sbin/sshd)

dir=$(mktemp -d)
sshd_pid=""
cleanup() {
  [ -S "$dir/ctl" ] && ssh -S "$dir/ctl" -O exit placeholder 2>/dev/null || true
  [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$dir/user_key"
cp "$dir/user_key.pub" "$dir/authorized_keys"
chmod 700 "$dir"
chmod 600 "$dir/authorized_keys"
mkdir -p /run/sshd 2>/dev/null || true
cat >"$dir/sshd_config" <<CONF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
AllowTcpForwarding yes
PermitRootLogin prohibit-password
MaxSessions 1000
CONF

"$sshd_bin" -D -e -f "$dir/sshd_config" 2>"$dir/sshd.log" &
sshd_pid=$!
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

ssh -M -S "$dir/ctl" -fN -p "$port" -i "$dir/user_key" \
  -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes \
  -o LogLevel=ERROR -o ConnectTimeout=10 -o Ciphers=aes128-gcm@openssh.com "$(id -un)@127.0.0.1"
master=$(ssh -S "$dir/ctl" -O check placeholder 2>&1 | sed -n 's/.*pid=\([0-9]*\).*/\1/p')

# The server side of the master connection: sshd's process for it and that one's children (the
# privilege-separated child does the crypto), measured as the gateway peer is on the tunnel paths.
servers=""
for p in $(pgrep -P "$sshd_pid" || true); do
  servers="$servers $p $(pgrep -d ' ' -P "$p" || true)"
done

VANTREL_SSH_CONTROL="$dir/ctl" VANTREL_SSH_PID="$master" VANTREL_SSHD_PIDS="$servers" \
  timeout "$limit" "$prog" "$@"
