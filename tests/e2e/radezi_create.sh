#!/usr/bin/env bash
# radezi create and catalog init when the disk gives out part way: the command fails and leaves no
# file at all (neither the database nor a temporary one), so a second create under the same name
# works. The file-size limit stands in for a full disk: past it a write fails with EFBIG, as it
# fails with ENOSPC on a full one; where we may mount, a real full tmpfs is tried too.
# Usage: radezi_create.sh BUILD_DIR
set -u
R="$1/tools/radezi"
W=$(mktemp -d)
FULL="$W/full"
trap 'mountpoint -q "$FULL" 2>/dev/null && umount "$FULL"; rm -rf "$W"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"a","fields":[{"name":"x","type":"ftInteger"}]},
           {"name":"b","fields":[{"name":"y","type":"ftString","size":8}]}]}
JSON

# Runs radezi with writes past $1 KiB failing; the other arguments are radezi's.
limited() {
  local kib=$1
  shift
  (trap '' XFSZ; ulimit -f "$kib"; exec "$R" "$@") >"$W/out" 2>"$W/err"
}
# The databases go into a folder of their own, which must stay empty after a failure.
D="$W/d"
mkdir "$D"
empty() { [ -z "$(ls -A "$1")" ] || fail "$2 left: $(ls -A "$1")"; }

# 3 KiB: the fixed headers fail; 4 KiB: they fit and the first table fails; 8 KiB: the second one.
for kib in 3 4 8; do
  limited $kib create "$D/db.dat" --schema "$W/schema.json"
  rc=$?
  [ $rc -eq 3 ] || fail "create under $kib KiB gave $rc: $(cat "$W/err")"
  empty "$D" "create under $kib KiB"
  grep -q "File too large" "$W/err" || fail "create under $kib KiB said: $(cat "$W/err")"
  limited 8 catalog init "$D/cat.dat"
  [ $? -eq 3 ] || fail "catalog init under 8 KiB did not fail"
  empty "$D" "catalog init under 8 KiB"
done

# With room, the same names work and hold every table.
"$R" create "$D/db.dat" --schema "$W/schema.json" || fail "create after the failures"
[ "$("$R" tables "$D/db.dat" | tr '\n' ' ')" = "a b " ] || fail "tables after create"
"$R" catalog init "$D/cat.dat" || fail "catalog init after the failures"
[ "$("$R" tables "$D/cat.dat" | wc -l)" = 3 ] || fail "catalog tables"
[ "$(ls -A "$D" | tr '\n' ' ')" = "cat.dat db.dat " ] || fail "a temporary file is left: $(ls -A "$D")"

# A real full disk, where this user may mount a small tmpfs.
mkdir "$FULL"
if mount -t tmpfs -o size=12k tmpfs "$FULL" 2>/dev/null; then
  "$R" create "$FULL/db.dat" --schema "$W/schema.json" >"$W/out" 2>"$W/err"
  [ $? -eq 3 ] && grep -q "No space left on device" "$W/err" || fail "full tmpfs: $(cat "$W/err")"
  empty "$FULL" "create on a full tmpfs"
  "$R" catalog init "$FULL/cat.dat" >"$W/out" 2>"$W/err"
  [ $? -eq 3 ] || fail "catalog init on a full tmpfs did not fail"
  empty "$FULL" "catalog init on a full tmpfs"
  umount "$FULL"
fi
echo ok
