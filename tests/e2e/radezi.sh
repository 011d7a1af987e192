#!/usr/bin/env bash
# radezi from outside: create, list, describe, insert, dump, check and repair, the catalog, an
# encrypted file, and four inserting processes at once. Usage: radezi.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"people","fields":[
  {"name":"id","type":"ftAutoInc"},{"name":"name","type":"ftString","size":32},
  {"name":"age","type":3},{"name":"note","type":"ftMemo"},{"name":"born","type":"ftDate"}],
 "indexes":[{"name":"byName","fields":["name"],"options":["tiUnique"]},
            {"name":"byAge","fields":["age"],"options":["tiDescending"]}]}]}
JSON
expect_rc 0 "$R" create "$W/db.dat" --schema "$W/schema.json"
expect_rc 3 "$R" create "$W/db.dat" --schema "$W/schema.json"
expect_rc 0 "$R" tables "$W/db.dat"
[ "$(cat "$W/out")" = "people" ] || fail "tables: $(cat "$W/out")"

echo '[{"name":"beta","age":30,"note":"memo text","born":"1999-12-31"},{"name":"alpha","age":40},{"name":"gamma","age":20}]' >"$W/rows.json"
expect_rc 0 "$R" insert "$W/db.dat" people --rows "$W/rows.json"
grep -q '"id":3,"name":"gamma"' "$W/out" || fail "insert output: $(cat "$W/out")"
echo '[{"name":"beta","age":1}]' | "$R" insert "$W/db.dat" people >"$W/out" 2>"$W/err"
[ $? -eq 3 ] && grep -q "Invalid unique field value 'beta'" "$W/err" || fail "unique violation: $(cat "$W/err")"

echo '[{"name":"smile 😀","age":1}]' | "$R" insert "$W/db.dat" people >"$W/out" 2>"$W/err"
[ $? -eq 3 ] || fail "a character without a code-page form was accepted"
expect_rc 0 "$R" dump "$W/db.dat" people --index byName
[ "$(grep -o '"name": "[a-z]*"' "$W/out" | tr '\n' ' ')" = '"name": "alpha" "name": "beta" "name": "gamma" ' ] || fail "dump by name"
expect_rc 0 "$R" dump "$W/db.dat" people --index byAge
[ "$(grep -o '"age": [0-9]*' "$W/out" | tr '\n' ' ')" = '"age": 40 "age": 30 "age": 20 ' ] || fail "dump by age"
expect_rc 0 "$R" dump "$W/db.dat" people
grep -q '"born": "1999-12-31"' "$W/out" && grep -q '"note": "memo text"' "$W/out" || fail "values: $(cat "$W/out")"
expect_rc 0 "$R" schema "$W/db.dat" people
grep -q '"RecordTabCount": 3' "$W/out" && grep -q '"AutoIncCounter": 3' "$W/out" || fail "schema: $(cat "$W/out")"
expect_rc 1 "$R" dump "$W/db.dat" nobody
expect_rc 1 "$R" dump "$W/db.dat" people --index nothing
expect_rc 2 "$R" frobnicate
expect_rc 2 "$R" dump
expect_rc 3 "$R" tables "$W/missing.dat"
expect_rc 0 "$R" check "$W/db.dat"

# Four processes inserting at once: every row once, the file checks clean.
for p in 1 2 3 4; do
  python3 -c "import json; print(json.dumps([{'name': 'p$p-%d' % i, 'age': i} for i in range(100)]))" >"$W/r$p.json"
done
for p in 1 2 3 4; do "$R" insert "$W/db.dat" people --rows "$W/r$p.json" >/dev/null 2>"$W/err$p" & done
wait
for p in 1 2 3 4; do [ -s "$W/err$p" ] && fail "concurrent insert $p: $(cat "$W/err$p")"; done
expect_rc 0 "$R" check "$W/db.dat"
expect_rc 0 "$R" dump "$W/db.dat" people --index byName
[ "$(grep -c '"name":' "$W/out")" = 403 ] || fail "rows after concurrent inserts"
[ "$(grep '"name":' "$W/out" | sort -u | wc -l)" = 403 ] || fail "a row appears twice"

# A damaged chain head: check reports it, repair rewrites it.
printf '\x39\x30\x00\x00' | dd of="$W/db.dat" bs=1 seek=$((3821 + 4181 + 70)) conv=notrunc status=none
expect_rc 1 "$R" check "$W/db.dat"
grep -q "does not visit every live record" "$W/out" || fail "check text: $(cat "$W/out")"
expect_rc 0 "$R" check --repair "$W/db.dat"
expect_rc 0 "$R" check "$W/db.dat"
head -c 5000 "$W/db.dat" >"$W/cut.dat"
expect_rc 1 "$R" check "$W/cut.dat"
grep -q "is corrupt" "$W/out" || fail "truncated file: $(cat "$W/out")"

# Encrypted and compressed.
expect_rc 0 "$R" create "$W/enc.dat" --schema "$W/schema.json" --compress --encrypt Gost --mode 1 --password "pw"
expect_rc 0 "$R" --password pw insert "$W/enc.dat" people --rows "$W/rows.json"
expect_rc 3 "$R" --password nope dump "$W/enc.dat" people
expect_rc 0 "$R" --password pw dump "$W/enc.dat" people --index byName
grep -q '"note": "memo text"' "$W/out" || fail "encrypted dump"
expect_rc 0 "$R" --password pw check "$W/enc.dat"

# The empty catalog.
expect_rc 0 "$R" catalog init "$W/cat.dat"
expect_rc 0 "$R" tables "$W/cat.dat"
[ "$(cat "$W/out" | tr '\n' ' ')" = "数据存储区 文件索引表 文件版本表 " ] || fail "catalog tables: $(cat "$W/out")"
echo '[{"名称":"文档","目录":"/home/u/文档"}]' | "$R" insert "$W/cat.dat" 数据存储区 >"$W/out" || fail "catalog insert"
grep -q '"存储区序号":1' "$W/out" || fail "catalog auto-increment: $(cat "$W/out")"
expect_rc 0 "$R" check "$W/cat.dat"
echo "ok"
