#!/usr/bin/env bash
# Start-up cost of the service host: time from the start request (om-sc start) to
# the service reporting RUNNING, against `java -cp <same jar> <same main class>`
# running the same main to its return. Both launch the sample
# agent on the same JVM; printed as medians of several runs and their ratio.
#   bench/service/start_bench.sh [runs]   (after building the linux preset)
set -euo pipefail
cd "$(dirname "$0")/../.."
runs="${1:-7}"
bin="$PWD/build/linux/bin"
java_home="${OM_JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}"
root=$(mktemp -d "${TMPDIR:-/tmp}/om-bench.XXXXXX")
trap 'rm -rf "$root"' EXIT
export OM_STANDIN_ROOT="$root/standin"
install="$root/install"
name="OmBench"
mkdir -p "$install/lib" "$install/omjre/jre17/bin/server"
cp "$bin/ombackup" "$bin/libomwin32.so" "$install/"
cp "$bin/sample-agent.jar" "$install/lib/"
ln -s "$java_home/lib/server/libjvm.so" "$install/omjre/jre17/bin/server/jvm.dll"
printf 'service.name=%s\nmemory=256\n' "$name" > "$install/service.properties"
"$install/ombackup" -install > /dev/null

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
state() { "$bin/om-sc" query "$name" | sed -n 's/.*STATE *: *\([0-9]\).*/\1/p'; }
status_file="$OM_STANDIN_ROOT/services/$(tr 'A-Z' 'a-z' <<<"$name")/status"

service_times=() java_times=()
for _ in $(seq "$runs"); do
  t0=$(now)
  "$bin/om-sc" start "$name" > /dev/null
  # Polled without starting processes, so the poll takes little from the JVM.
  while :; do
    st=0
    [ -f "$status_file" ] && read -r st _ < "$status_file" || true
    [ "$st" = 4 ] && break
    sleep 0.001
  done
  service_times+=($(( ($(now) - t0) / 1000 )))
  "$bin/om-sc" stop "$name" > /dev/null
  until [ "$(state)" = 1 ]; do sleep 0.01; done

  # The agent's main returns at once and leaves only a daemon thread, so the
  # launcher's run ends when main has returned (plus the VM's exit).
  t0=$(now)
  (cd "$root" && "$java_home/bin/java" -Xmx256m -Dsun.net.inetaddr.ttl=300 \
      -cp "$install/lib/sample-agent.jar" com.ombrel.agentservice.Start "$name" > /dev/null)
  java_times+=($(( ($(now) - t0) / 1000 )))
done
"$install/ombackup" -uninstall > /dev/null

s=$(printf '%s\n' "${service_times[@]}" | median)
j=$(printf '%s\n' "${java_times[@]}" | median)
echo "runs: $runs"
echo "ombackup start request -> RUNNING: median ${s} us  (all: ${service_times[*]})"
echo "java -cp ... main      -> main returned, VM exited: median ${j} us  (all: ${java_times[*]})"
awk -v s="$s" -v j="$j" 'BEGIN { printf "ratio service/java: %.2f  (difference %+.1f ms)\n", s / j, (s - j) / 1000 }'
