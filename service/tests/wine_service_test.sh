#!/usr/bin/env bash
# ombackup.exe under Wine's own service manager, with the recording test jvm.dll:
# install, the configuration (sc qc), sc start -> RUNNING, sc stop -> STOPPED, uninstall.
#   wine_service_test.sh WINE_RUN PREFIX OMBACKUP_EXE JVM_DLL WORK_DIR
set -euo pipefail
wine_run="$1" prefix="$2" exe="$3" jvm="$4" work="$5"
name="OmWineTest"
display="OmBackup Wine Test"
w() { "$wine_run" --arch 64 --prefix "$prefix" -- "$@" 2>/dev/null | tr -d '\r'; }
check() { if ! grep -qF -- "$2" <<<"$1"; then echo "FAIL: expected '$2' in:"; echo "$1"; exit 1; fi; }

rm -rf "$work"
mkdir -p "$work/lib" "$work/omjre/jre17/bin/server"
cp "$exe" "$work/ombackup.exe"
cp "$jvm" "$work/omjre/jre17/bin/server/jvm.dll"
: > "$work/lib/agent.jar"
printf 'service.name=%s\r\nservice.displayname=%s\r\nmain-class=com.ombrel.agentservice.Start\r\nmemory=128\r\n' \
  "$name" "$display" > "$work/service.properties"

w "$work/ombackup.exe" -uninstall > /dev/null || true   # a leftover of an interrupted run

out=$(w "$work/ombackup.exe" -install)
echo "$out"
check "$out" "$display installed."

# Wine's sc.exe has no qc: the configuration it would show, from the service's key.
out=$(w reg query "HKLM\\System\\CurrentControlSet\\Services\\$name")
echo "$out"
winpath="Z:$(tr / '\\' <<<"$work")\\ombackup.exe"
check "$out" "ImagePath    REG_SZ    \"$winpath\" -start"
check "$out" "Start    REG_DWORD    0x2"
check "$out" "DisplayName    REG_SZ    $display"

state() { w sc query "$name" | sed -n 's/.*STATE *: *\([0-9]\).*/\1/p'; }
await() {
  for _ in $(seq 300); do [ "$(state)" = "$1" ] && return 0; sleep 0.2; done
  echo "FAIL: state $(state) instead of $1"; cat "$work/omjre/jre17/bin/server/jvm-calls.log" || true; exit 1
}

w sc start "$name" -trace
await 4
echo "RUNNING reached"
calls=$(cat "$work/omjre/jre17/bin/server/jvm-calls.log")
check "$calls" "option -Djava.class.path="
check "$calls" "option -Xmx128m"
check "$calls" "argument $name"
check "$calls" "argument -trace"
check "$calls" "CallStaticVoidMethod main"
check "$calls" "RegisterNatives shutdownNotification (J)V"
check "$calls" "CallStaticVoidMethod addShutdownNotificationHook handle"
if grep -q "java.ext.dirs" <<<"$calls"; then echo "FAIL: ext dirs passed to a runtime without lib\\ext"; exit 1; fi

w sc stop "$name"
await 1
echo "STOPPED reached"
calls=$(cat "$work/omjre/jre17/bin/server/jvm-calls.log")
check "$calls" "CallStaticVoidMethod Stop"
check "$calls" "DestroyJavaVM"
log=$(tr -d '\r' < "$work/ombackup.exe.log")
check "$log" "Trace: Waiting for stop event..."
check "$log" "Debug: Invoker Stopped"

out=$(w "$work/ombackup.exe" -uninstall)
echo "$out"
check "$out" "$display removed."
out=$(w sc query "$name" || true)
check "$out" "1060"
echo "PASS"
