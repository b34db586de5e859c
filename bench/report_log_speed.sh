#!/usr/bin/env bash
# Speed and memory of morvane-report on a large text connection log, beside
# `grep -c "connection @"` on the same file as the peer.
#   bench/report_log_speed.sh BUILD_DIR [MEGABYTES]
# BUILD_DIR is a release build configured with -DMORVANE_BENCH=ON (it holds
# main/morvane-report and bench/make_connection_log); the log (1000 MB by
# default) is written into $TMPDIR and removed again. Each command runs three
# times on the cached file; the best wall time counts.
set -euo pipefail
build=$(cd "$1" && pwd)
megabytes=${2:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=Europe/Berlin
log="$work/morvane-net.log"
"$build/bench/make_connection_log" "$log" "$megabytes"
cat "$log" >/dev/null  # into the page cache

best() {  # command...; prints the best wall time in seconds and the largest resident set in kB
  local best_s="" rss=0 s kb
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/stdout" 2>"$work/stderr"
    read -r s kb <"$work/time"
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN{exit !(a<b)}'; then best_s=$s; fi
    if [ "$kb" -gt "$rss" ]; then rss=$kb; fi
  done
  echo "$best_s $rss"
}

read -r grep_s grep_kb < <(best grep -c "connection @" "$log")
read -r report_s report_kb < <(best "$build/main/morvane-report" "$log")
read -r json_s json_kb < <(best "$build/main/morvane-report" --by session --format json "$log")
bytes=$(stat -c %s "$log")
lines=$(grep -c "connection @" "$log")
echo "log: $bytes bytes, $lines connection lines"
echo "grep -c:                           ${grep_s} s, ${grep_kb} kB resident"
echo "morvane-report (by day, text):     ${report_s} s, ${report_kb} kB resident" \
  "(ratio to grep $(awk -v a="$report_s" -v b="$grep_s" 'BEGIN{printf "%.2f", a/b}'))"
echo "morvane-report (sessions, JSON):   ${json_s} s, ${json_kb} kB resident" \
  "(ratio to grep $(awk -v a="$json_s" -v b="$grep_s" 'BEGIN{printf "%.2f", a/b}'))"
