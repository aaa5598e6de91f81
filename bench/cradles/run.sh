#!/bin/sh
# Units per hour with 1, 2 and 4 cradles side by side: for each round, K
# copies of mvxtvup-cli --demo, each bound to a cradle of its own, version-up
# UNITS emulated units each at the same time (same package, same emulated
# timing). The rounds alternate 1, 2, 4, 1, 2, 4, ... so that a change of the
# machine's load falls on every K alike. Prints per round the wall time, the
# units per hour and the CPU seconds per unit, and the floor: the time the
# emulated units themselves take per unit (their latency per packet, backup,
# install and restart, and the pause between units), with none of the
# tool's work.
#
#   bench/cradles/run.sh MVXTVUP-CLI TVUTOOL [UNITS [ROUNDS [IMAGE_KIB]]]
set -eu
cli=$1
tvutool=$2
units=${3:-5}
rounds=${4:-2}
kib=${5:-1024}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

head -c $((kib * 1024)) /dev/urandom > "$dir/image.bin"
"$tvutool" build --version 201035 "$dir/image.bin" "$dir/bench.tvu" > /dev/null

now_ms() { date +%s%3N; }
# CPU seconds (user + system) of the children a shell waited for, from the
# second line that its times prints.
cpu_of() { tail -1 "$1" | awk '{ split($1, u, "m"); split($2, s, "m");
  print u[1] * 60 + u[2] + s[1] * 60 + s[2] }'; }

printf '%-7s %-6s %8s %10s %10s %12s\n' cradles round wall_s units units/hour cpu_s/unit
r=1
while [ $r -le "$rounds" ]; do
  for k in 1 2 4; do
    out="$dir/r$r-k$k"
    mkdir -p "$out"
    result=$(
      start=$(now_ms)
      i=1
      while [ $i -le "$k" ]; do
        "$cli" --demo "$units" --cradle "bench-$i" --record "$out/c$i.csv" \
          --log-dir "$out/logs" "$dir/bench.tvu" > "$out/c$i.out" 2>&1 &
        i=$((i + 1))
      done
      wait
      end=$(now_ms)
      times > "$out/times"
      echo "$((end - start)) $(cpu_of "$out/times")"
    )
    wall_ms=${result%% *}
    cpu=${result#* }
    done_units=$(cat "$out"/c*.csv | grep -c ',finished,' || true)
    awk -v k="$k" -v r="$r" -v w="$wall_ms" -v n="$done_units" -v c="$cpu" 'BEGIN {
      printf "%-7d %-6d %8.1f %10d %10.0f %12.2f\n", k, r, w / 1000, n, n * 3600000 / w, c / (n ? n : 1) }'
    r_k_total=$((k * units))
    [ "$done_units" = "$r_k_total" ] || echo "  only $done_units of $r_k_total units finished (see $out)"
  done
  r=$((r + 1))
done

# The floor: what one emulated unit takes by itself. The packet count is the
# image in 1024-byte packets, each answered after the device's latency.
packets=$(( (kib * 1024 + 1023) / 1024 ))
awk -v p="$packets" -v u="$units" 'BEGIN {
  latency = 1; backup = 200; install = 500; restart = 2000; pause = 300
  unit_ms = p * latency + backup + install + restart + pause
  printf "floor: %.2f s per unit and cradle, %.0f units/hour per cradle\n", unit_ms / 1000, 3600000 / unit_ms }'
