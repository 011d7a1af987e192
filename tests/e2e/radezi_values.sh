#!/usr/bin/env bash
# radezi's reading of values, schema numbers and numeric options: every type takes exactly its own
# range and text form and refuses the rest with a message naming the field (or option) and the
# value, instead of clamping, wrapping or reading a leading part. Usage: radezi_values.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"v","fields":[
  {"name":"sm","type":"ftSmallint"},{"name":"w","type":"ftWord"},{"name":"i","type":"ftInteger"},
  {"name":"l","type":"ftLargeint"},{"name":"b","type":"ftBoolean"},{"name":"fl","type":"ftFloat"},
  {"name":"cu","type":"ftCurrency"},{"name":"d","type":"ftDate"},{"name":"t","type":"ftTime"},
  {"name":"dt","type":"ftDateTime"},{"name":"s","type":"ftString","size":4},
  {"name":"m","type":"ftMemo"},{"name":"bl","type":"ftBlob"}]}]}
JSON
"$R" create "$W/db.dat" --schema "$W/schema.json" || fail "create"

stored=0
# ok FIELD JSON STORED: the row is taken and reads back as "FIELD":STORED.
ok() {
  printf '[{"%s":%s}]' "$1" "$2" | "$R" insert "$W/db.dat" v >"$W/out" 2>"$W/err" || fail "$1=$2 refused: $(cat "$W/err")"
  grep -qF "\"$1\":$3" "$W/out" || fail "$1=$2 stored as $(cat "$W/out"), want $3"
  stored=$((stored + 1))
}
# no FIELD JSON [SHOWN]: refused (exit 3) naming the field and the value (SHOWN where JSON prints
# the number differently).
no() {
  printf '[{"%s":%s}]' "$1" "$2" | "$R" insert "$W/db.dat" v >"$W/out" 2>"$W/err"
  local rc=$?
  [ $rc -eq 3 ] || fail "$1=$2 gave $rc, want 3: $(cat "$W/out")"
  grep -qF "Field '$1': ${3:-$2}" "$W/err" || fail "$1=$2 said: $(cat "$W/err")"
}

ok sm -32768 -32768; ok sm 32767 32767
no sm 32768; no sm -32769; no sm 1.5; no sm 1.0; no sm '"1"'
ok w 0 0; ok w 65535 65535
no w -1; no w 65536
ok i -2147483648 -2147483648; ok i 2147483647 2147483647
no i 2147483648; no i -2147483649
ok l -9223372036854775808 -9223372036854775808; ok l 9223372036854775807 9223372036854775807
no l 9223372036854775808; no l 18446744073709551615; no l 18446744073709551616 1.8446744073709552e+19
no l -9223372036854775809 -9.223372036854776e+18; no l 1e19 1e+19
ok b true true; ok b false false
no b 1; no b '"true"'
ok fl 1.5 1.5; ok fl -1e308 -1e+308; ok cu 12.25 12.25
no fl '"1"'; no cu '"1"'
ok d '"0001-01-01"' '"0001-01-01"'; ok d '"9999-12-31"' '"9999-12-31"'; ok d '"2000-02-29"' '"2000-02-29"'
no d '"1900-02-29"'; no d '"+202-01-01"'; no d '"0000-01-01"'; no d '"2024-13-01"'; no d '"2024-1-01"'
no d '" 2024-01-01"'; no d '"2024-01-01x"'; no d 20240101
ok t '"00:00:00"' '"00:00:00.000"'; ok t '"23:59:59.999"' '"23:59:59.999"'
no t '"-1:00:00"'; no t '"12:00:00.-12"'; no t '"+1:00:00"'; no t '"24:00:00"'; no t '"12:60:00"'
no t '"12:00:00.5"'; no t '"12:00:00.1234"'; no t '"12:00: 0"'
ok dt '"2024-02-29 23:59:59.999"' '"2024-02-29 23:59:59.999"'
no dt '"2024-02-29T12:00:00"'; no dt '"2024-02-29  12:00:00"'; no dt '"2024-02-29"'; no dt '"2023-02-29 00:00:00"'
ok s '"abcd"' '"abcd"'; ok s '"中文"' '"中文"'
no s '"abcde"'; no s '"中文字"'; no s '"a\u0000b"'; no s 5
ok m '"text"' '"text"'; ok m '{"hex":"6869"}' '"hi"'
no m '{"hex":"0g"}' "the hex text '0g'"; no m '{"hex":"abc"}' "the hex text 'abc'"; no m '{"hex":"00","x":1}'; no m 5
ok bl '{"hex":"00ff"}' '{"hex":"00ff"}'
no bl '"text"'
# Nothing refused was stored.
"$R" dump "$W/db.dat" v >"$W/out" || fail "dump"
[ "$(grep -c '"sm":' "$W/out")" = $stored ] || fail "$(grep -c '"sm":' "$W/out") rows stored, want $stored"

# Numbers of the schema: a type code or size beyond 32 bits does not wrap into a small one.
schema_no() {
  printf '{"tables":[{"name":"x","fields":[{"name":"f",%s}]}]}' "$1" >"$W/bad.json"
  "$R" create "$W/bad.dat" --schema "$W/bad.json" >"$W/out" 2>"$W/err"
  local rc=$?
  [ $rc -eq 2 ] || fail "schema $1 gave $rc, want 2"
  grep -qF "field 'f': $2" "$W/err" || fail "schema $1 said: $(cat "$W/err")"
  [ -e "$W/bad.dat" ] && fail "schema $1 left a file"
}
schema_no '"type":"ftString","size":4294967304' "the size 4294967304 is not"
schema_no '"type":"ftString","size":-1' "the size -1 is not"
schema_no '"type":"ftString","size":8.0' "the size 8.0 is not"
schema_no '"type":4294967299' "unknown field type 4294967299"
schema_no '"type":3.0' "unknown field type 3.0"
schema_no '"type":-1' "unknown field type -1"

# Numeric options: the whole text is the number, within its range.
option_no() {
  "$R" "$@" >"$W/out" 2>"$W/err"
  local rc=$?
  [ $rc -eq 2 ] || fail "$* gave $rc, want 2"
}
for bad in 1x 3.9 0x3 +1 " 1" -1 4 ""; do
  option_no dump "$W/db.dat" v --filter "i = 0" --filter-options "$bad"
  grep -qF -- "--filter-options needs a whole number from 0 to 3, not '$bad'" "$W/err" || fail "--filter-options '$bad' said: $(cat "$W/err")"
done
"$R" dump "$W/db.dat" v --filter "s = 'ABCD'" --filter-options 3 >"$W/out" || fail "--filter-options 3"
grep -q '"s": "abcd"' "$W/out" || fail "--filter-options 3 did not apply: $(cat "$W/out")"
for bad in 1x 3.9 0x3 5 -0; do
  option_no create "$W/enc.dat" --schema "$W/schema.json" --encrypt Gost --mode "$bad" --password pw
  grep -qF -- "--mode needs a whole number from 0 to 4, not '$bad'" "$W/err" || fail "--mode '$bad' said: $(cat "$W/err")"
  [ -e "$W/enc.dat" ] && fail "--mode '$bad' left a file"
done
"$R" create "$W/enc.dat" --schema "$W/schema.json" --encrypt Gost --mode 4 --password pw || fail "--mode 4"
# A locate key beyond every integer field is refused, not wrapped to -1.
"$R" insert "$W/db.dat" v <<<'[{"l":-1}]' >/dev/null || fail "insert -1"
option_no locate "$W/db.dat" v --fields l --values 18446744073709551615
grep -qF -- "--values: 18446744073709551615" "$W/err" || fail "locate key said: $(cat "$W/err")"
echo ok
