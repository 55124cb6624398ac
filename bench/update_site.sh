# Sourced by the update benchmarks: four client versions and the chain of three patch
# packages between them, about TOTAL_MIB in all, made in the current folder.
#   make_update_site TOTAL_MIB   v0..v3 (client folders) and site/p1.pkg..p3.pkg,
#                                site/server.lst; needs $axp and $qgpatch. When the caller
#                                defines extra_version_content FOLDER K, it runs for each
#                                version before the packages are made.
#   publish_patch_info URL       site/patchinfo.txt for the site served at URL
# Version k replaces a third of the content with new incompressible data: each package
# carries about TOTAL_MIB/3.
make_update_site() {
  local per_step_kib=$(( $1 * 1024 / 3 ))
  local k
  echo "making 4 client versions and 3 packages of about $(($1 / 3)) MiB each..."
  mkdir -p v0/resource && make_site_version v0 0 "$per_step_kib"
  for k in 1 2 3; do cp -r v$((k - 1)) v$k && make_site_version v$k $k "$per_step_kib"; done
  mkdir -p site
  local form=(x sealed scrambled scrambled)
  for k in 1 2 3; do
    "$qgpatch" diff v$((k - 1)) v$k -o site/p$k.pkg --form ${form[$k]} >/dev/null
  done
  printf 'SERVER_BEGIN\r\n1|east\r\n' > site/server.lst
}

make_site_version() {  # folder seed kib
  /usr/bin/python3 - "$1/src" "$2" "$3" <<'PY'
import os, random, sys
src, seed, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
count = 200
for i in range(count):
    d = os.path.join(src, f"set{i % 4}")
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, f"f{i}.bin"), "wb") as f:
        f.write(rng.randbytes(kib * 1024 // count))
PY
  "$axp" add "$1/resource/data.pak" "$1/src" --root "$1/src" --type 0 >/dev/null
  rm -rf "$1/src"
  printf 'CN.1.0.%s\r\n' "$2" > "$1/.ver"
  if declare -F extra_version_content >/dev/null; then extra_version_content "$1" "$2"; fi
}

publish_patch_info() {  # url
  "$qgpatch" site -o site/patchinfo.txt --latest CN.1.0.3 --quillgate CN.9.0 \
    --newquillgate "$1/quillgate.zip" --patch CN.1.0.0 CN.1.0.1 "$1/p1.pkg" \
    --patch CN.1.0.1 CN.1.0.2 "$1/p2.pkg" --patch CN.1.0.2 CN.1.0.3 "$1/p3.pkg" >/dev/null
}
