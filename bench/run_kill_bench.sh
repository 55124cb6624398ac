#!/usr/bin/env bash
# Kills a real update run at random instants and checks that running it again always
# brings the client to the newest version. Not a timed test and not in CI: a figure.
#
# The launcher (release build, headless, with its hand-over to "quillgate.bin") updates
# a client through a chain of 3 patch packages of about TOTAL_MIB in all, served by nginx
# on 127.0.0.1, everything on tmpfs. A first run measures the duration D of a whole
# update; then, KILLS times, a fresh client is updated and the launcher's process group
# is sent SIGKILL at an instant drawn uniformly from (0, D) (SEED is printed; the same
# SEED draws the same instants). Right after the kill ".ver" is read: when it names a
# version other than the installed one, the client must already hold that version
# exactly, else ".ver" was ahead of the content. Then the launcher runs again to its end
# and the client must be at the newest version: exit 0, ".ver" the newest, every pack
# passing `axp check`, every file of the published client exact (packs entry by entry:
# catalogue, then the extracted contents) and no file that the newest version removed.
#   bash bench/run_kill_bench.sh                     200 kills, about 100 MiB
#   KILLS=10 TOTAL_MIB=6 bash bench/run_kill_bench.sh   a quick check of the script
#   SEED=1234 ... (default: random)  KEEP=DIR keeps the logs of failed kills in DIR
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_site.sh
source bench/release_build.sh
source bench/update_site.sh

kills=${KILLS:-200}
total_mib=${TOTAL_MIB:-100}
seed=${SEED:-$RANDOM$RANDOM}
keep=${KEEP:-$PWD/build/kill-bench}

build_release quillgate qgpatch axp_tool >/dev/null
bin=$PWD/build/release
axp=$bin/tools/axp
qgpatch=$bin/tools/qgpatch

work=$(mktemp -d /dev/shm/qg-kill-bench.XXXXXX)
launcher_pgid=""
cleanup() {
  [ -n "$launcher_pgid" ] && kill -KILL -- "-$launcher_pgid" 2>/dev/null || true
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$keep" && mkdir -p "$keep"
cd "$work"

# Besides the large pack, each version has loose files and a second, small pack that
# changes in one step only (it travels whole, as a plain file); version 2 drops a file.
extra_version_content() {  # folder k
  mkdir -p "$1/bin"
  printf 'readme of version %s\n' "$2" > "$1/bin/readme.txt"
  head -c $((40000 + 1000 * $2)) /dev/urandom > "$1/bin/game.dll"
  [ "$2" -ge 2 ] && rm -f "$1/bin/old.txt" || printf 'dropped in version 2\n' > "$1/bin/old.txt"
  if [ "$2" -le 1 ]; then
    printf 'small pack of version %s\n' "$2" > small.txt
    "$axp" add "$1/resource/small.pak" small.txt --name small.txt >/dev/null
    rm small.txt
  fi
}
make_update_site "$total_mib"
mkdir -p nginx && start_nginx "$work/site" "$work/nginx"
url=http://127.0.0.1:$nginx_port
publish_patch_info "$url"
newest=3

# What each published version holds: loose files by path, packs by catalogue and by
# extracted contents.
for k in 0 1 2 3; do
  mkdir -p "expect/v$k"
  (cd "v$k" && find . -type f ! -name '*.pak' | sort) > "expect/v$k/files"
  (cd "v$k" && find . -type f -name '*.pak' | sort) > "expect/v$k/packs"
  while read -r p; do
    "$axp" ls "v$k/$p" | cut -f1,2,5 | sort > "expect/v$k/${p//\//_}.ls"
    "$axp" extract "v$k/$p" "expect/v$k/${p//\//_}.x" >/dev/null
  done < "expect/v$k/packs"
done
cat expect/v*/files expect/v*/packs | sort -u > expect/all_files

# True when client folder $1 holds version $2 exactly; prints the first difference.
holds_version() {
  local client=$1 e=expect/v$2 f p x
  while read -r f; do
    cmp -s "$client/$f" "v$2/$f" || { echo "$f differs"; return 1; }
  done < "$e/files"
  while read -r p; do
    "$axp" check "$client/$p" >/dev/null 2>&1 || { echo "$p fails axp check"; return 1; }
    cmp -s <("$axp" ls "$client/$p" | cut -f1,2,5 | sort) "$e/${p//\//_}.ls" ||
      { echo "$p catalogue differs"; return 1; }
    x=$work/extracted && rm -rf "$x"
    "$axp" extract "$client/$p" "$x" >/dev/null 2>&1 && diff -rq "$x" "$e/${p//\//_}.x" >/dev/null ||
      { echo "$p contents differ"; return 1; }
  done < "$e/packs"
  while read -r f; do
    grep -qxF "$f" "$e/files" "$e/packs" || [ ! -e "$client/$f" ] || { echo "$f should be gone"; return 1; }
  done < expect/all_files
}

# The check must tell the versions apart, or every figure below would pass by default.
for k in 0 1 2; do
  if holds_version "v$k" $newest >/dev/null; then
    echo "the exactness check takes version $k for the newest" >&2
    exit 1
  fi
done
holds_version v$newest $newest >/dev/null || { echo "the newest version fails its own check" >&2; exit 1; }

version_of() {  # client -> the k of "CN.1.0.k" in its .ver, or "none"
  local line
  line=$(head -n1 "$1/.ver" 2>/dev/null | tr -d '\r') || true
  case $line in CN.1.0.[0-3]) echo "${line##*.}" ;; *) echo none ;; esac
}

fresh_client() {
  rm -rf client && cp -r v0 client
  cp "$bin/app/quillgate" client/quillgate.exe
  printf '[quillgate]\r\nverinfo=%s/patchinfo.txt\r\nserverlist=%s/server.lst\r\n' "$url" "$url" \
    > client/quillgate.cfg
}

# Starts the launcher in a session and process group of its own (the hand-over's copy
# joins it), under a `setsid --wait` that stays in ours: the kill then ends a grandchild,
# and the shell reports no killed job.
start_launcher() {  # log
  rm -f launcher.pgid
  setsid --fork --wait bash -c 'echo $$ > launcher.pgid; cd client && TMPDIR="$1" exec ./quillgate.exe --headless' \
    _ "$work" > "$1" 2>&1 &
  launcher_waiter=$!
  until [ -s launcher.pgid ]; do sleep 0.005; done
  launcher_pgid=$(cat launcher.pgid)
}
group_alive() { kill -0 -- "-$launcher_pgid" 2>/dev/null; }
# Waits for the launcher's exit status; a run still going after $1 seconds is killed.
finish_launcher() {  # limit -> sets launcher_rc
  local deadline=$(( $(date +%s) + $1 ))
  while group_alive && [ "$(date +%s)" -lt "$deadline" ]; do sleep 0.05; done
  group_alive && kill -KILL -- "-$launcher_pgid" 2>/dev/null
  launcher_rc=0
  wait "$launcher_waiter" || launcher_rc=$?
  while group_alive; do sleep 0.05; done
  launcher_pgid=""
}

now() { date +%s.%N; }
fresh_client
t0=$(now); start_launcher measure.log; finish_launcher 600; t1=$(now)
duration=$(echo "$t1 - $t0" | bc)
if [ "$launcher_rc" -ne 0 ] || ! holds_version client $newest >/dev/null; then
  echo "an uninterrupted run does not bring the client up to date:" >&2
  tail -5 measure.log >&2
  exit 1
fi
echo "an uninterrupted run takes $duration s; $kills kills, seed $seed"
rerun_limit=$(echo "$duration * 20 + 60" | bc | cut -d. -f1)

mapfile -t instants < <(/usr/bin/python3 -c '
import random, sys
rng = random.Random(int(sys.argv[1]))
for _ in range(int(sys.argv[2])): print(f"{rng.uniform(0, float(sys.argv[3])):.3f}")
' "$seed" "$kills" "$duration")

converged=0 ahead=0 finished_first=0 rerun_failed=0 not_exact=0 no_ver=0 ver_moved=0
for i in "${!instants[@]}"; do
  at=${instants[$i]}
  fresh_client
  start_launcher killed.log
  sleep "$at"
  if group_alive; then kill -KILL -- "-$launcher_pgid" 2>/dev/null || true; else finished_first=$((finished_first + 1)); fi
  finish_launcher 60
  outcome=converged detail=""
  after=$(version_of client)
  if [ "$after" = none ]; then
    no_ver=$((no_ver + 1)); detail=".ver unreadable after the kill"
  elif [ "$after" != 0 ]; then
    ver_moved=$((ver_moved + 1))
    if ! why=$(holds_version client "$after"); then
      ahead=$((ahead + 1)); detail=".ver says CN.1.0.$after after the kill but $why"
    fi
  fi
  start_launcher rerun.log
  finish_launcher "$rerun_limit"
  if [ "$launcher_rc" -ne 0 ]; then
    rerun_failed=$((rerun_failed + 1)); outcome="re-run failed (exit $launcher_rc: $(grep -a '^result' rerun.log | tail -1))"
  elif [ "$(version_of client)" != $newest ] || ! why=$(holds_version client $newest); then
    not_exact=$((not_exact + 1)); outcome="re-run ended but ${why:-.ver is not the newest}"
  else
    converged=$((converged + 1))
  fi
  # What the launcher was doing: the last line it printed before the kill.
  # (A kill before the first line leaves an empty log: nothing to show, not a failure.)
  doing=$(tr '\r' '\n' < killed.log | grep -av '^setsid:' | grep -a . | tail -1 | cut -c1-80 || true)
  printf 'kill %3d at %6s s [%s] (.ver then: %s): %s%s\n' $((i + 1)) "$at" "$doing" "$after" \
    "$outcome" "${detail:+; $detail}"
  if [ "$outcome" != converged ] || [ -n "$detail" ]; then
    mkdir -p "$keep/kill$((i + 1))" && cp killed.log rerun.log "$keep/kill$((i + 1))/"
  fi
done

echo
echo "kill figure: $kills kills at instants uniform in (0, $duration s), seed $seed, $total_mib MiB chain"
printf '  %-52s %s\n' \
  "converged to the newest version, every file exact" "$converged / $kills" \
  ".ver ahead of the content right after a kill" "$ahead" \
  ".ver missing or unreadable right after a kill" "$no_ver" \
  "kills after which .ver had moved (checked for ahead)" "$ver_moved" \
  "re-run failed" "$rerun_failed" \
  "re-run succeeded but the client is not exact" "$not_exact" \
  "run had already finished at the kill instant" "$finished_first"
[ "$converged" -eq "$kills" ] && [ "$ahead" -eq 0 ] && [ "$no_ver" -eq 0 ]
