#!/usr/bin/env bash
# radezi's multi-row commands are all or nothing: insert and update check every row (values, unique
# indexes against the table and among the command's own rows, the auto-increment rule) before the
# first write, and a refused command leaves the file byte for byte as it was. A failure while
# writing (here the file-size limit) says exactly which rows were written. Usage: radezi_rows.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"people","fields":[
  {"name":"id","type":"ftAutoInc"},{"name":"name","type":"ftString","size":8},
  {"name":"age","type":"ftInteger"},{"name":"note","type":"ftMemo"}],
 "indexes":[{"name":"byName","fields":["name"],"options":["tiUnique","tiCaseInsensitive"]},
            {"name":"byAgeNote","fields":["age","id"],"options":["tiUnique"]}]},
 {"name":"pairs","fields":[{"name":"a","type":"ftString","size":4},{"name":"b","type":"ftInteger"}],
  "indexes":[{"name":"ab","fields":["a","b"],"options":["tiPrimary"]}]}]}
JSON
expect_rc 0 "$R" create "$W/db.dat" --schema "$W/schema.json"
echo '[{"name":"alpha","age":30},{"name":"beta","age":40}]' | expect_rc 0 "$R" insert "$W/db.dat" people
echo '[{"a":"a","b":1},{"a":"b","b":2},{"a":"c","b":3},{"a":"c","b":5}]' | expect_rc 0 "$R" insert "$W/db.dat" pairs

# refused WANT_TEXT COMMAND...: exit 3 with the text on standard error, nothing on standard output,
# and the file unchanged byte for byte.
refused() {
  local want=$1
  shift
  cp "$W/db.dat" "$W/before.dat"
  "$@" <"$W/in" >"$W/out" 2>"$W/err"
  local rc=$?
  cmp -s "$W/db.dat" "$W/before.dat" || fail "$*: the file changed"
  [ $rc -eq 3 ] || fail "$* gave $rc, want 3: $(cat "$W/err")"
  [ "$(cat "$W/err")" = "$want" ] || fail "$*: said '$(cat "$W/err")', want '$want'"
  [ -s "$W/out" ] && fail "$*: printed $(cat "$W/out")"
}
insert_refused() { echo "$2" >"$W/in"; refused "$1" "$R" insert "$W/db.dat" "${3:-people}"; }
update_refused() { : >"$W/in"; refused "$1" "$R" update "$W/db.dat" "${4:-people}" --filter "$2" --set "$3"; }

# Insert: the second row duplicates a row of the table; the third duplicates the first, under the
# index's case-insensitive rule; a bad value, an unknown field or a non-object in a later row.
insert_refused "Row 2: Invalid unique field value 'BETA'; no row was inserted" \
  '[{"name":"gamma"},{"name":"BETA"},{"name":"delta"}]'
insert_refused "Rows 1 and 3: Invalid unique field value 'GAMMA'; no row was inserted" \
  '[{"name":"gamma"},{"name":"delta"},{"name":"GAMMA"}]'
insert_refused "Row 3: Field 'age': \"x\" is not an integer: an integer from -2147483648 to 2147483647 is expected; no row was inserted" \
  '[{"name":"gamma"},{"name":"delta"},{"name":"eps","age":"x"}]'
insert_refused "Row 2: Field 'nope' not found; no row was inserted" '[{"name":"gamma"},{"nope":1}]'
insert_refused "Row 2: Each row must be a JSON object; no row was inserted" '[{"name":"gamma"},7]'
insert_refused "Rows 2 and 3: Invalid unique field value 'y,2'; no row was inserted" \
  '[{"a":"x","b":1},{"a":"y","b":2},{"a":"y","b":2}]' pairs

# Update: the first row would change cleanly, the second breaks the primary index; two rows would
# take one key; the auto-increment number of one row given to two.
update_refused "Invalid unique field value 'c,5'; no row was changed" "b >= 2 and b < 5" '{"b":5}' pairs
update_refused "Invalid unique field value 'zeta' would be the key of more than one of the 2 rows; no row was changed" \
  "age > 0" '{"name":"zeta"}'
update_refused "Field 'id': 9 would be given to 2 rows; no row was changed" "age > 0" '{"id":9}'

# The auto-increment rule: 0 takes the next number; a number given is from 1 to 2147483646 and held
# by no other row, of the table or of the same command.
# id 1 and 2 are alpha and beta; the counter is 2.
for bad in 2147483647 -5 4294967297 1.5; do
  insert_refused "Row 1: Field 'id': $bad is not an auto-increment value: 0 takes the next number, and a number given must be from 1 to 2147483646; no row was inserted" \
    "[{\"id\":$bad,\"name\":\"x\"}]"
done
insert_refused "Row 1: Field 'id': 2 is used by a row of the table; no row was inserted" '[{"id":2,"name":"x"}]'
insert_refused "Row 2: Field 'id': 50 is given to an earlier row; no row was inserted" \
  '[{"id":50,"name":"x"},{"id":50,"name":"y"}]'
insert_refused "Row 2: Field 'id': 3 is given to an earlier row; no row was inserted" \
  '[{"name":"x"},{"id":3,"name":"y"}]'
update_refused "Field 'id': 2 is used by another row of the table; no row was changed" "name = 'alpha'" '{"id":2}'
update_refused "Field 'id': 2147483647 is not an auto-increment value: 0 takes the next number, and a number given must be from 1 to 2147483646; no row was changed" \
  "name = 'alpha'" '{"id":2147483647}'
# Taken: a number in a gap below the counter, a number above it (which raises it), and a row's own
# number or 0 in an update (which keep it).
echo '[{"id":100,"name":"x"},{"name":"y"},{"id":50,"name":"z"}]' | expect_rc 0 "$R" insert "$W/db.dat" people
[ "$(grep -o '"id":[0-9]*,"name":"[a-z]*"' "$W/out" | tr '\n' ' ')" = '"id":100,"name":"x" "id":101,"name":"y" "id":50,"name":"z" ' ] ||
  fail "numbers: $(cat "$W/out")"
expect_rc 0 "$R" update "$W/db.dat" people --filter "name = 'z'" --set '{"id":50,"age":7}'
expect_rc 0 "$R" update "$W/db.dat" people --filter "age >= 0" --set '{"id":0,"note":"n"}'
[ "$(cat "$W/out")" = 5 ] || fail "update with id 0: $(cat "$W/out")"
expect_rc 0 "$R" update "$W/db.dat" people --filter "name = 'y'" --set '{"id":2147483646}'
echo '[{"name":"last"}]' | expect_rc 0 "$R" insert "$W/db.dat" people
grep -q '"id":2147483647' "$W/out" || fail "the last number: $(cat "$W/out")"
insert_refused "Row 1: Auto-increment counter overflow; no row was inserted" '[{"name":"more"}]'
echo '[{"id":7,"name":"gap"}]' | expect_rc 0 "$R" insert "$W/db.dat" people
expect_rc 0 "$R" check "$W/db.dat"

# A failure while writing: past the file-size limit the rows cannot be written. They are written
# together, so none of them is there and none is listed; the message says so; the file checks
# clean and keeps the row inserted before.
expect_rc 0 "$R" create "$W/w.dat" --schema "$W/schema.json"
echo '[{"name":"w0"}]' | expect_rc 0 "$R" insert "$W/w.dat" people
size=$(stat -c %s "$W/w.dat")
kib=$(( (size + 1500 + 1023) / 1024 ))
room=$(( kib * 1024 - size ))
memo=$(head -c $((room * 2 / 3)) /dev/zero | tr '\0' 'm')
printf '[{"name":"w1","note":"%s"},{"name":"w2","note":"%s"},{"name":"w3"}]' "$memo" "$memo" >"$W/in"
(trap '' XFSZ; ulimit -f $kib; exec "$R" insert "$W/w.dat" people) <"$W/in" >"$W/out" 2>"$W/err"
[ $? -eq 3 ] || fail "insert past the limit did not fail"
[ "$(cat "$W/err")" = "Stream write error. File too large; no row was inserted" ] ||
  fail "insert past the limit said: $(cat "$W/err")"
[ ! -s "$W/out" ] || fail "listed: $(cut -c1-60 "$W/out")"
expect_rc 0 "$R" locate "$W/w.dat" people --fields name --values '"w0"'
expect_rc 1 "$R" locate "$W/w.dat" people --fields name --values '"w1"'
expect_rc 1 "$R" locate "$W/w.dat" people --fields name --values '"w3"'
expect_rc 0 "$R" check "$W/w.dat"
echo ok
