#!/usr/bin/env bash
# The launcher's window: time from the start of the process to its first painted frame,
# and the peak memory (VmHWM) of the launcher process once the news page has loaded (the
# page's own helper processes are reported beside it). Each run starts the launcher
# (-direct) in a small client that is up to date, against a site and a news page served
# by python3 on 127.0.0.1, on a virtual display (Xvfb) of its own.
#   bash bench/run_window_bench.sh            release build, 5 runs
#   RUNS=3 PRESET=debug bash bench/run_window_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/release_build.sh

runs=${RUNS:-5}
preset=${PRESET:-release}
if [ "$preset" = release ]; then
  build_release quillgate >/dev/null
else
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j 2 --target quillgate >/dev/null
fi
bin=$PWD/build/$preset

work=$(mktemp -d /tmp/qg-window-bench.XXXXXX)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
url=http://127.0.0.1:$port
mkdir -p site client
printf '[latest]\r\nlatest=CN.1.0.0\r\nquillgate=CN.9.0\r\nnewquillgate=%s/quillgate.zip\r\n' "$url" \
  > site/patchinfo.txt
printf 'SERVER_BEGIN\r\n1|east\r\n' > site/server.lst
printf '<html><body style="background:#20c040;margin:0"><h1>News</h1></body></html>' > site/news.html
printf 'CN.1.0.0' > client/.ver
printf '[quillgate]\r\nverinfo=%s/patchinfo.txt\r\nserverlist=%s/server.lst\r\nweb=%s/news.html\r\n' \
  "$url" "$url" "$url" > client/quillgate.cfg
cp "$bin/app/quillgate" client/quillgate.exe
/usr/bin/python3 -m http.server --bind 127.0.0.1 --directory site "$port" >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 50); do curl -fs "$url/patchinfo.txt" >/dev/null && break; sleep 0.1; done

# One run on the current display: prints "first_frame_ms launcher_hwm_kib helpers_hwm_kib".
cat > one_run.sh <<'RUN'
set -euo pipefail
cd "$1/client"
start=$(date +%s%3N)
QUILLGATE_REPORT_FIRST_FRAME=1 ./quillgate.exe -direct 2> ../launcher.err &
pid=$!
# The news page is loaded once its colour is on the screen (load-finished is not painted).
/usr/bin/python3 - <<'PY'
import os, time
from PIL import ImageGrab
end = time.time() + 60
while time.time() < end:
    if ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).getpixel((622, 317))[:3] == (0x20, 0xC0, 0x40):
        break
    time.sleep(0.05)
PY
sleep 1
hwm() { awk '/VmHWM/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
launcher=$(hwm "$pid")
helpers=0
for child in $(pgrep -P "$pid" || true); do helpers=$((helpers + $(hwm "$child"))); done
kill "$pid"; wait "$pid" 2>/dev/null || true
first=$(sed -n 's/^first frame at \([0-9]*\) ms$/\1/p' ../launcher.err | head -1)
echo "$((first - start)) $launcher $helpers"
RUN

results=()
for i in $(seq 1 "$runs"); do
  line=$(xvfb-run -a -s "-screen 0 1280x900x24" bash one_run.sh "$work")
  echo "run $i: first frame $(cut -d' ' -f1 <<<"$line") ms, launcher VmHWM $(cut -d' ' -f2 <<<"$line") KiB, page helpers $(cut -d' ' -f3 <<<"$line") KiB"
  results+=("$line")
done
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf '%s\n' "${results[@]}" | cut -d' ' -f1 | median | sed 's/^/median first frame ms: /'
printf '%s\n' "${results[@]}" | cut -d' ' -f2 | median | sed 's/^/median launcher VmHWM KiB: /'
printf '%s\n' "${results[@]}" | cut -d' ' -f3 | median | sed 's/^/median page helpers VmHWM KiB (sum): /'
