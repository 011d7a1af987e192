#!/usr/bin/env bash
# radezi check and dump on a damaged text value: check names the record and field, repair cannot
# mend it and says so, dump gives every row with that field's stored bytes in hex, a warning on
# standard error and exit code 1. Usage: radezi_check.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"people","fields":[{"name":"id","type":"ftAutoInc"},{"name":"name","type":"ftString","size":12},
  {"name":"note","type":"ftMemo"}],"indexes":[{"name":"byName","fields":["name"],"options":["tiUnique"]}]}]}
JSON
expect_rc 0 "$R" create "$W/db.dat" --schema "$W/schema.json"
echo '[{"name":"alpha","note":"a"},{"name":"beta"},{"name":"gamma"}]' >"$W/rows.json"
expect_rc 0 "$R" insert "$W/db.dat" people --rows "$W/rows.json"
# "beta" becomes b, a lead byte with a trail byte it does not take, a: no code-page form.
python3 - "$W/db.dat" <<'PY' || fail "patch"
import sys
p = sys.argv[1]; d = open(p, 'rb').read()
assert d.count(b'beta\0') == 1
open(p, 'wb').write(d.replace(b'beta\0', b'b\x81\x7fa\0'))
PY
expect_rc 1 "$R" check "$W/db.dat"
grep -q "table 'people', record 1, field 'name': the text cannot be read" "$W/out" || fail "check: $(cat "$W/out")"
expect_rc 1 "$R" check --repair "$W/db.dat"
grep -q "^ok" "$W/out" && fail "repair said ok: $(cat "$W/out")"
for index in "" byName; do
  args=(); [ -n "$index" ] && args=(--index "$index")
  expect_rc 1 "$R" dump "$W/db.dat" people "${args[@]}"
  grep -q '"name": "alpha"' "$W/out" && grep -q '"name": "gamma"' "$W/out" || fail "other rows: $(cat "$W/out")"
  grep -q '"hex": "62817f61"' "$W/out" || fail "hex form: $(cat "$W/out")"
  grep -q "warning: table 'people', record 1, field 'name': the text cannot be read" "$W/err" ||
    fail "warning: $(cat "$W/err")"
done
# locate gives the row it found the same way; its exit code keeps meaning found (0) or not (1).
expect_rc 0 "$R" locate "$W/db.dat" people --fields id --values 2
grep -q '"hex":"62817f61"' "$W/out" && grep -q "record 1, field 'name'" "$W/err" || fail "locate: $(cat "$W/out") $(cat "$W/err")"

# A compressed memo whose stored bytes no longer inflate: the same, the value given as null.
expect_rc 0 "$R" create "$W/z.dat" --schema "$W/schema.json" --compress
python3 -c "import json; print(json.dumps([{'name': n, 'note': n * 60} for n in ('alpha', 'beta', 'gamma')]))" >"$W/rows.json"
expect_rc 0 "$R" insert "$W/z.dat" people --rows "$W/rows.json"
python3 - "$W/z.dat" <<'PY' || fail "patch"
import sys
p = sys.argv[1]; d = bytearray(open(p, 'rb').read())
i = d.find(b'\x78\x9c')  # the zlib stream of the first memo
assert i > 0
d[i + 5] ^= 0xff
open(p, 'wb').write(bytes(d))
PY
expect_rc 1 "$R" check "$W/z.dat"
grep -q "table 'people', record 0, field 'note': the blob cannot be read" "$W/out" || fail "check: $(cat "$W/out")"
expect_rc 1 "$R" dump "$W/z.dat" people
grep -q '"note": null' "$W/out" && grep -q '"note": "betabeta' "$W/out" && grep -q '"note": "gammagamma' "$W/out" ||
  fail "dump: $(cat "$W/out")"
grep -q "warning: table 'people', record 0, field 'note': the blob cannot be read" "$W/err" || fail "warning: $(cat "$W/err")"

# A table the directory's count left out: check finds it, repair takes it in again.
expect_rc 0 "$R" create "$W/two.dat" --schema <(echo '{"tables":[{"name":"a","fields":[{"name":"x","type":"ftInteger"}]},{"name":"b","fields":[{"name":"y","type":"ftInteger"}]}]}')
printf '\x01' | dd of="$W/two.dat" bs=1 seek=2789 conv=notrunc status=none
expect_rc 1 "$R" check "$W/two.dat"
grep -q "its count 1 leaves out the table 'b' in slot 1" "$W/out" || fail "count: $(cat "$W/out")"
expect_rc 0 "$R" check --repair "$W/two.dat"
expect_rc 0 "$R" tables "$W/two.dat"
[ "$(cat "$W/out" | tr '\n' ' ')" = "a b " ] || fail "tables after repair: $(cat "$W/out")"
echo ok
