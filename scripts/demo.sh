#!/usr/bin/env bash
# Sets up a fresh machine, builds the program and shows what it does: the
# informational options, then a real transfer against the host emulator
# (sample catalogue, free port on 127.0.0.1) driven by a short scripted front
# end, then a whole session through the PHP client. Exits 0 only when every
# step worked.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
"$root/scripts/package.sh"
build="${BUILD_DIR:-$root/build}"
exe="$build/project/vexlink"
emu_exe="$build/hostemu/vexlink-hostemu"
work="$(mktemp -d)"
emu_pid=""
cleanup() {
  if [ -n "$emu_pid" ] && kill -0 "$emu_pid" 2>/dev/null; then
    kill -TERM "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
step() { echo; echo "== $*"; }
# Runs a command and checks its exit code.
expect() {
  local want="$1"; shift
  local rc=0
  "$@" || rc=$?
  if [ "$rc" -ne "$want" ]; then
    echo "demo: '$*' ended with exit code $rc, expected $want" >&2
    exit 1
  fi
  echo "(exit code $rc)"
}

step "vexlink -h (usage, exit code 4)"
expect 4 "$exe" -h
step "vexlink -t (code page tables, exit code 4)"
expect 4 "$exe" -t
step "vexlink -g (writes the default vexlink.ini, exit code 4)"
expect 4 "$exe" -g
head -20 vexlink.ini
step "vexlink -x (writes tcplogger.xml, exit code 4)"
expect 4 "$exe" -x
step "vexlink with no arguments (exit code 8)"
expect 8 "$exe"

step "host emulator with the sample catalogue on a free port of 127.0.0.1"
"$emu_exe" -c "$root/hostemu/sample/hostemu.ini" -p 0 > emu.port 2> emu.log &
emu_pid=$!
for _ in $(seq 1 100); do
  [ -s emu.port ] && break
  sleep 0.1
done
port="$(head -1 emu.port)"
case "$port" in
  ''|*[!0-9]*) echo "demo: the emulator did not start:" >&2; cat emu.log >&2; exit 1 ;;
esac
echo "listening on port $port"

step "a front end: requests into the database, answers and files out"
python3 - "$exe" "$port" "$root/tests/e2e" <<'PYTHON'
import os
import sys

exe, port, lib = sys.argv[1], int(sys.argv[2]), sys.argv[3]
sys.path.insert(0, lib)
from frontend import Scratch, Vexlink, check, check_true

scratch = Scratch()
run = None
try:
    run = Vexlink(exe, scratch, port, work_dir="demo", t0=30)
    pid = run.wait_ready()
    print("run started, System row:", pid)
    print("host:", run.responses(cmd="HPREADY")[0][2].decode("latin-1"))

    m = run.request("PHGDSLST", "VEXUSR1.**")
    names = run.download(m).decode("latin-1").split()
    print("data sets:", ", ".join(names))
    check_true("the demo data set is listed", "VEXUSR1.DEMO.DATA" in names, repr(names))

    m = run.request("PHGETFILE", "VEXUSR1.DEMO.DATA")
    data = run.download(m)
    print("downloaded VEXUSR1.DEMO.DATA: %d bytes, %d lines; first line:" % (len(data), data.count(b"\n")))
    print("   ", data.split(b"\n")[0].decode("latin-1"))
    check_true("download has records", data.count(b"\n") > 0)

    m = run.request("PHSUBMIT", "VEXUSR1.JCL(HELLO)")
    eod = run.wait_response(m, "HPEOD")
    print("job submitted:", run.hpmsgs()[-1].decode("latin-1"), "/", eod[0][2].decode("latin-1"))
    check_true("job submitted", run.hpmsgs()[-1].startswith(b"RC=0"))

    up = scratch.file("upload.txt")
    with open(up, "wb") as f:
        f.write(b"uploaded by the vexlink demo\nsecond line\n")
    run.request("PHMODIFY", "VEXUSR1.DEMO.UPLOAD RECFM(VB) LRECL(255)", up)
    msgs = run.wait_hpmsg(len(run.hpmsgs()) + 2)
    print("upload:", msgs[-1].decode("latin-1"))
    check_true("upload stored", b"ROWS=2" in msgs[-1])
    m = run.request("PHGETFILE", "VEXUSR1.DEMO.UPLOAD")
    check("upload read back", run.download(m), b"uploaded by the vexlink demo\nsecond line\n")

    m = run.request("PING", "are you there?")
    print("PING answered:", run.wait_response(m, "PING")[0][2].decode("latin-1"))

    rc, _ = run.close()
    print("CLOSE: exit code %d, System row %s, database deleted: %s"
          % (rc, run.system(), not os.path.exists(run.db_path)))
    check("exit code", rc, 0)
    check("System row at the end", run.system(), [-1])
except Exception as e:  # noqa: BLE001 - any failure fails the demo
    print("demo: front end failed:", e, file=sys.stderr)
    if run is not None:
        print("\n".join(run.log_lines()[-20:]), file=sys.stderr)
    sys.exit(1)
finally:
    if run is not None:
        run.kill()
    scratch.remove()
PYTHON

step "the PHP client (clients/php/demo.php): a whole session against the same emulator"
cat > php-demo.ini <<INI
[GLOBAL]
TEMP_PATH=$work
[TCP]
IP_ADDR=127.0.0.1
HOST_PORT=$port
USERID=VEXUSR1
MEMBER=VEXSTC
[FTP]
T0=30
[SQLITE]
DBNAME=vexlink.db
INI
# The sample user's password goes to the script on its standard input only.
php_rc=0
printf '%s\n' 'VEXPWD1' | php "$root/clients/php/demo.php" "$exe" "$work/php-demo.ini" || php_rc=$?
if [ "$php_rc" -ne 0 ]; then
  echo "demo: the PHP session failed (exit code $php_rc)" >&2
  exit 1
fi

step "stopping the emulator"
kill -TERM "$emu_pid"
emu_rc=0
wait "$emu_pid" || emu_rc=$?
emu_pid=""
cat emu.log
if [ "$emu_rc" -ne 0 ]; then
  echo "demo: the emulator ended with exit code $emu_rc" >&2
  exit 1
fi
echo
echo "demo: every step worked"
