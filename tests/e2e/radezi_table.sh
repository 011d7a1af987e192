#!/usr/bin/env bash
# radezi's table commands through the dataset layer: dump with a filter, locate, update, delete,
# and the password prompt of an encrypted file. Usage: radezi_table.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"people","fields":[
  {"name":"id","type":"ftAutoInc"},{"name":"name","type":"ftString","size":8},
  {"name":"age","type":"ftInteger"},{"name":"born","type":"ftDate"}],
 "indexes":[{"name":"byName","fields":["name"],"options":["tiUnique"]}]}]}
JSON
expect_rc 0 "$R" create "$W/db.dat" --schema "$W/schema.json"
echo '[{"name":"Beta","age":30,"born":"1999-12-31"},{"name":"alpha","age":40},{"name":"gamma","age":20},{"name":"alphabet","age":25}]' >"$W/rows.json"
expect_rc 0 "$R" insert "$W/db.dat" people --rows "$W/rows.json"
[ "$(wc -l <"$W/out")" = 4 ] || fail "insert printed $(cat "$W/out")"
grep -q '"id":4,"name":"alphabet","age":25' "$W/out" || fail "insert output: $(cat "$W/out")"

expect_rc 0 "$R" dump "$W/db.dat" people --index byName --filter "age >= 25"
[ "$(grep -o '"name": "[a-zA-Z]*"' "$W/out" | tr '\n' ' ')" = '"name": "alpha" "name": "alphabet" "name": "Beta" ' ] || fail "filtered dump: $(cat "$W/out")"
expect_rc 0 "$R" dump "$W/db.dat" people --filter "name = 'BETA'" --filter-options 1
grep -q '"name": "Beta"' "$W/out" || fail "case-insensitive filter: $(cat "$W/out")"
expect_rc 0 "$R" dump "$W/db.dat" people --filter "name = 'al'" --filter-options 2
[ "$(cat "$W/out")" = "[]" ] || fail "no partial compare: $(cat "$W/out")"
expect_rc 3 "$R" dump "$W/db.dat" people --filter "age >"
[ "$(cat "$W/err")" = "Expression expected but nothing found" ] || fail "parse error text: $(cat "$W/err")"
expect_rc 3 "$R" dump "$W/db.dat" people --filter "nope = 1"
grep -q "Field 'nope' not found" "$W/err" || fail "unknown field: $(cat "$W/err")"

expect_rc 0 "$R" locate "$W/db.dat" people --fields name --values '"gam"' --partial
grep -q '"name":"gamma"' "$W/out" || fail "partial locate: $(cat "$W/out")"
expect_rc 1 "$R" locate "$W/db.dat" people --fields name --values '"alph"'
expect_rc 0 "$R" locate "$W/db.dat" people --fields name --values '"BETA"' --case-insensitive
grep -q '"age":30' "$W/out" || fail "case-insensitive locate: $(cat "$W/out")"
expect_rc 0 "$R" locate "$W/db.dat" people --fields "name;age" --values '["gamma",20]' --index byName
expect_rc 0 "$R" locate "$W/db.dat" people --fields born --values '"1999-12-31"'
grep -q '"name":"Beta"' "$W/out" || fail "date locate: $(cat "$W/out")"
expect_rc 2 "$R" locate "$W/db.dat" people --fields name

expect_rc 0 "$R" update "$W/db.dat" people --filter "age < 30" --set '{"age":99}'
[ "$(cat "$W/out")" = 2 ] || fail "update count: $(cat "$W/out")"
expect_rc 3 "$R" update "$W/db.dat" people --filter "age = 99" --set '{"name":"alpha"}'
grep -q "Invalid unique field value 'alpha'" "$W/err" || fail "unique on update: $(cat "$W/err")"
expect_rc 0 "$R" dump "$W/db.dat" people --filter "age = 99"
[ "$(grep -c '"name":' "$W/out")" = 2 ] || fail "after update: $(cat "$W/out")"
expect_rc 0 "$R" delete "$W/db.dat" people --filter "age = 99"
[ "$(cat "$W/out")" = 2 ] || fail "delete count: $(cat "$W/out")"
expect_rc 0 "$R" dump "$W/db.dat" people
[ "$(grep -c '"name":' "$W/out")" = 2 ] || fail "after delete: $(cat "$W/out")"
expect_rc 0 "$R" check "$W/db.dat"

# An encrypted file without --password asks through the prompt; with no terminal to ask on, it
# ends quietly with exit 1.
expect_rc 0 "$R" create "$W/enc.dat" --schema "$W/schema.json" --encrypt Blowfish --mode 1 --password pw
expect_rc 0 "$R" --password pw insert "$W/enc.dat" people --rows "$W/rows.json"
expect_rc 1 setsid -w "$R" dump "$W/enc.dat" people
[ -s "$W/err" ] && fail "cancelled prompt printed: $(cat "$W/err")"
expect_rc 3 "$R" --password bad dump "$W/enc.dat" people
[ "$(cat "$W/err")" = "Access denied" ] || fail "wrong password: $(cat "$W/err")"
expect_rc 0 "$R" --password pw locate "$W/enc.dat" people --fields name --values '"gamma"'
echo ok
