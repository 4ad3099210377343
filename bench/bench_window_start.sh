#!/usr/bin/env bash
# How long the window takes to appear with a long proxy list, and its peak memory.
#
#   bench/bench_window_start.sh PROGRAM [LINES] [SCREENSHOT.png]
#
# PROGRAM is a built `vindral`. A copy of it runs in a scratch folder beside a settings file of LINES
# proxy lines (default 100000; a fifth of them with each mark), on a virtual display of its own. The time
# is from the start of the program until its window is mapped (the list is loaded before that), then the
# window is given a second to paint and the program is ended; the peak RSS and the CPU time are the
# whole run's (on a loaded machine the CPU time says more than the wall time).
set -euo pipefail

program=${1:?usage: bench_window_start.sh PROGRAM [LINES] [SCREENSHOT.png]}
lines=${2:-100000}
screenshot=${3:-}

scratch=$(mktemp -d)
trap 'kill "${xvfb_pid:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
cp "$program" "$scratch/vindral"

python3 - "$scratch/qelto.ini" "$lines" <<'EOF'
import sys
path, count = sys.argv[1], int(sys.argv[2])
marks = [b"", b"(\x81\x9b)", b"(\x81\xa2)", b"(\x81\x7e)", b""]
with open(path, "wb") as f:
    f.write(b"1\r\nhttp://127.0.0.1:9/a.html\r\nEdit1\r\n100\r\n%d\r\n" % count)
    for i in range(count):
        f.write(b"10.%d.%d.%d:%d%s\r\n" % (i >> 16 & 255, i >> 8 & 255, i & 255, 1024 + i % 60000, marks[i % 5]))
EOF

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.05; done

start=$(date +%s%N)
DISPLAY=$display /usr/bin/time -f "%M %U %S" -o "$scratch/rss" "$scratch/vindral" &
time_pid=$!
window=""
until [ -n "$window" ]; do
  window=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/"Zarvik"/ {print $1; exit}')
  if [ -n "$window" ] && ! DISPLAY=$display xwininfo -id "$window" 2>/dev/null | grep -q IsViewable; then
    window=""
  fi
  [ -z "$window" ] && sleep 0.01
done
shown=$(date +%s%N)
sleep 1
[ -n "$screenshot" ] && DISPLAY=$display import -window "$window" "$screenshot"
pkill -TERM -P "$time_pid" || true
wait "$time_pid" || true

echo "lines: $lines"
echo "window shown after: $(( (shown - start) / 1000000 )) ms"
read -r rss user sys < <(tail -1 "$scratch/rss")
echo "peak RSS: $((rss / 1024)) MB"
echo "CPU time of the whole run (user + system): $user s + $sys s"
