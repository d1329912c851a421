#!/usr/bin/env bash
# ombackup.exe under Wine's own service manager, with the recording test jvm.dll:
# install, the configuration (qc), sc start -> RUNNING, sc stop -> STOPPED,
# uninstall; then the console run (-debug) with and without a runtime.
#   wine_service_test.sh WINE_RUN PREFIX OMBACKUP_EXE JVM_DLL OM_SC_EXE WORK_DIR
set -euo pipefail
wine_run="$1" prefix="$2" exe="$3" jvm="$4" omsc="$5" work="$6"
name="OmWineTest"
display="OmBackup Wine Test"
w() { "$wine_run" --arch 64 --prefix "$prefix" -- "$@" 2>/dev/null | tr -d '\r'; }
check() { if ! grep -qF -- "$2" <<<"$1"; then echo "FAIL: expected '$2' in:"; echo "$1"; exit 1; fi; }

rm -rf "$work"
mkdir -p "$work/lib" "$work/omjre/jre17/bin/server"
cp "$exe" "$work/ombackup.exe"
cp "$jvm" "$work/omjre/jre17/bin/server/jvm.dll"
cp "$omsc" "$work/om-sc.exe"
calls_file="$work/omjre/jre17/bin/server/jvm-calls.log"
: > "$work/lib/agent.jar"
printf 'service.name=%s\r\nservice.displayname=%s\r\nmain-class=com.ombrel.agentservice.Start\r\nmemory=128\r\n' \
  "$name" "$display" > "$work/service.properties"

w "$work/ombackup.exe" -uninstall > /dev/null || true   # a leftover of an interrupted run

out=$(w "$work/ombackup.exe" -install)
echo "$out"
check "$out" "$display installed."

# Wine's sc.exe has no qc: om-sc asks the manager (QueryServiceConfig) instead.
out=$(w "$work/om-sc.exe" qc "$name")
echo "$out"
winpath="Z:$(tr / '\\' <<<"$work")\\ombackup.exe"
check "$out" "BINARY_PATH_NAME   : \"$winpath\" -start"
check "$out" "START_TYPE         : 2   AUTO_START"
check "$out" "TYPE               : 10  WIN32_OWN_PROCESS"
check "$out" "DISPLAY_NAME       : $display"

state() { w "$work/om-sc.exe" query "$name" | sed -n 's/.*STATE *: *\([0-9]\).*/\1/p'; }
await() {
  for _ in $(seq 300); do [ "$(state)" = "$1" ] && return 0; sleep 0.2; done
  echo "FAIL: state $(state) instead of $1"; cat "$calls_file" "$work/ombackup.exe.log" || true; exit 1
}

w sc start "$name" -trace
await 4
echo "RUNNING reached"
calls=$(cat "$calls_file")
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
calls=$(cat "$calls_file")
check "$calls" "CallStaticVoidMethod Stop"
check "$calls" "DestroyJavaVM"
log=$(tr -d '\r' < "$work/ombackup.exe.log")
check "$log" "Trace: Waiting for stop event..."
check "$log" "Debug: Invoker Stopped"

out=$(w "$work/ombackup.exe" -uninstall)
echo "$out"
check "$out" "$display removed."
out=$(w "$work/om-sc.exe" query "$name" || true)
check "$out" "[SC] OpenService FAILED 1060:"

# Console run: the Java main gets the program name and the switch, the host
# then waits until it is ended; no service status, no shutdown hook.
rm -f "$calls_file"
debug_out="$work/debug.out"
"$wine_run" --arch 64 --prefix "$prefix" -- "$work/ombackup.exe" -debug </dev/null >"$debug_out" 2>/dev/null &
debug_pid=$!
for _ in $(seq 300); do grep -q "Service started" "$debug_out" 2>/dev/null && break; sleep 0.2; done
kill "$debug_pid" 2>/dev/null || true
wait "$debug_pid" 2>/dev/null || true
out=$(tr -d '\r' < "$debug_out")
echo "$out"
check "$out" "Service started, press Control-C to exit..."
calls=$(cat "$calls_file")
check "$calls" "argument -debug"
check "$calls" "CallStaticVoidMethod main"
if grep -q "RegisterNatives" <<<"$calls"; then echo "FAIL: shutdown hook registered in the console run"; exit 1; fi

# Without a runtime the console run says so and ends with 1.
rm -rf "$work/omjre"
rc=0
out=$(w "$work/ombackup.exe" -debug </dev/null) || rc=$?
echo "$out"
check "$out" "Invoker failed"
if [ "$rc" != 1 ]; then echo "FAIL: console run without a runtime exited with $rc"; exit 1; fi
echo "PASS"
