#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds, starts the reference gateway
# and availability server on loopback, an X display (Xvfb) and xrdp as the demo desktop, then
# drives vantreltcs as a portal page would: start-up (the page answers the verification rules'
# prompt), desktop list, launch of the first desktop.
# xfreerdp (through vantrel-mstsc) authenticates to xrdp through the tunnel (+auth-only).
# Everything started here is stopped on exit; every wait is bounded.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
step() { printf '\n== %s\n' "$*"; }

step "1. packages (scripts/bootstrap.sh)"
bash scripts/bootstrap.sh

build=${VANTREL_DEMO_BUILD:-build/demo}
step "2. build ($build)"
# An existing build folder keeps its own configuration (the tests run the demo in theirs, and
# skip the build: relinking the library under tests running in parallel would break them).
if [ "${VANTREL_DEMO_SKIP_BUILD:-}" = 1 ]; then
  echo "build skipped: the caller built $build"
else
  [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j 2 --target vantreltcs vantrel-testpeer vantrel-mstsc
fi
bin=$(cd "$build" && pwd)/bin

work=$(mktemp -d /tmp/vantrel-demo-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null || true
  done
  if [ -n "${VANTREL_DEMO_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Waits up to $2 seconds for the file $1 to hold a line matching $3.
wait_for() {
  for _ in $(seq $(($2 * 10))); do
    grep -q -- "$3" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "demo: timed out waiting for \"$3\" in $1" >&2
  return 1
}

step "3. X display (Xvfb :87) and xrdp on 127.0.0.1:3389 as the demo desktop"
Xvfb :87 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=:87
xrdp --nodaemon --port 3389 >"$work/xrdp.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/3389) 2>/dev/null && break; sleep 0.1; done
(exec 3<>/dev/tcp/127.0.0.1/3389) 2>/dev/null || { echo "demo: xrdp did not start"; cat "$work/xrdp.log"; exit 1; }
echo "xrdp listening on 127.0.0.1:3389"

step "4. reference gateway and availability server (vantrel-testpeer demo)"
"$bin/vantrel-testpeer" demo --gateway-scenario tools/testpeer/scenarios/demo.json \
  --scenario tools/testpeer/scenarios/avail-demo.json >"$work/peers.log" 2>&1 &
pids+=($!)
wait_for "$work/peers.log" 10 "^gateway key sha256 "
port=$(sed -n 's/^listening 127.0.0.1:\([0-9]*\)$/\1/p' "$work/peers.log")
# The gateway's self-signed key, pinned up front as an administrator would: no dialog.
export VANTREL_GATEWAY_PIN=$(sed -n 's/^gateway key sha256 \(.*\)$/\1/p' "$work/peers.log")
cat "$work/peers.log"

step "5. vantreltcs as the page's control, driven over JSON lines"
# The RDP client: vantrel-mstsc running xfreerdp with +auth-only, so the run ends by itself.
# xfreerdp wants the connection file first.
printf '#!/bin/sh\nf=$1; shift\nexec xfreerdp "$f" +auth-only "$@"\n' >"$work/xfreerdp-auth-only"
chmod +x "$work/xfreerdp-auth-only"
export VANTREL_XFREERDP=$work/xfreerdp-auth-only VANTREL_RDP_CLIENT=$bin/vantrel-mstsc
mkfifo "$work/page.in"
"$bin/vantreltcs" --api stdio --ui none --param platform=Morv --param sp_name=127.0.0.1 \
  --param sp_port="$port" --param session_id=demo-session --param custom_portal=1 \
  <"$work/page.in" >"$work/page.out" 2>"$work/vantreltcs.err" &
host=$!
pids+=($host)
exec 7>"$work/page.in"
send() { echo "page -> $1"; echo "$1" >&7; }
reply() { wait_for "$work/page.out" 30 "\"id\":$1," && grep -m1 "\"id\":$1," "$work/page.out"; }

send '{"id":1,"method":"InitTCS"}'
# The availability server's verification rules: one writes to the gateway log, the other asks
# the page, which takes the first button.
wait_for "$work/page.out" 60 '"dialog":"confirm"'
dialog=$(grep -m1 '"dialog":"confirm"' "$work/page.out")
echo "host -> $dialog"
send "{\"dialog_reply\":$(sed 's/.*"id":\([0-9]*\).*/\1/' <<<"$dialog"),\"result\":\"yes\"}"
wait_for "$work/page.out" 60 '"OnTCSStatusChanged","args":\[6,'
wait_for "$work/peers.log" 10 'msg="Demo usage policy <'
grep -E 'query/clientverification2|msg="Demo ' "$work/peers.log" | sed 's/^/verification: /'
grep '"event"' "$work/page.out" | sed 's/^/host -> /'
send '{"id":2,"get":"IsConnected"}'; reply 2 | sed 's/^/host -> /'
send '{"id":3,"get":"RegDesktopsCount"}'; count=$(reply 3 | sed 's/.*"result":\([0-9]*\).*/\1/')
echo "desktops: $count"
for i in $(seq 0 $((count - 1))); do
  send "{\"id\":$((10 + i)),\"method\":\"GetRegDesktop\",\"args\":[$i]}"
  reply $((10 + i)) | sed 's/^/host -> /'
done
# The XenApp farm's applications (logged on with the session's credentials: single sign-on) are
# filed under the farm's folder, the root's second one.
send '{"id":20,"method":"SetCurFolder","args":[1]}'; reply 20 >/dev/null
send '{"id":21,"get":"CurFolder"}'; reply 21 | sed 's/^/host -> /'
send '{"id":22,"get":"AppsCount"}'; apps=$(reply 22 | sed 's/.*"result":\([0-9]*\).*/\1/')
for i in $(seq 0 $((apps - 1))); do
  send "{\"id\":$((23 + 2 * i)),\"method\":\"SetCurApp\",\"args\":[$i]}"; reply $((23 + 2 * i)) >/dev/null
  send "{\"id\":$((24 + 2 * i)),\"get\":\"CurAppName\"}"; reply $((24 + 2 * i)) | sed 's/^/host -> /'
done
grep -E 'wpnbr.dll|iconcache' "$work/peers.log" | sed 's/^/citrix: /' | head -n 8

step "6. launch desktop 0 through the tunnel"
send '{"id":30,"method":"LaunchDesktop","args":[0,1]}'
reply 30 | sed 's/^/host -> /'
# xfreerdp authenticates to xrdp through the tunnel and ends (auth-only).
wait_for "$work/vantreltcs.err" 60 "Authentication only, exit status 0"
grep -E "Authentication only|ERRCONNECT" "$work/vantreltcs.err" | head -n 3 | sed 's/^/xfreerdp: /'
grep -m1 -iE "connection|connected|accept" "$work/xrdp.log" | sed 's/^/xrdp: /' || true
echo "RDP traffic went through the tunnel: xfreerdp -> 127.0.0.1 listener -> gateway -> xrdp"

step "7. the page releases the control (end of input)"
exec 7>&-
for _ in $(seq 300); do kill -0 "$host" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$host" 2>/dev/null; then echo "demo: vantreltcs did not end"; exit 1; fi
wait "$host" && echo "vantreltcs ended with 0"
grep '"event"' "$work/page.out" | tail -n 3 | sed 's/^/host -> /'
echo
echo "demo finished"
