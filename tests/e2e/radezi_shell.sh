#!/usr/bin/env bash
# radezi shell driven through standard input: a scripted session that fills, filters and checks a
# database; every dot-command; a second program writing the file while the session is open, seen by
# the session's next command; a CSV round trip (export, then import into a fresh table) with quotes,
# commas, line breaks and Chinese text. Usage: radezi_shell.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"
has() { grep -qF -- "$2" "$1" || fail "$3: no '$2' in: $(cat "$1")"; }

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"people","fields":[{"name":"id","type":"ftAutoInc"},{"name":"name","type":"ftString","size":40},
  {"name":"age","type":"ftInteger"},{"name":"born","type":"ftDate"},{"name":"ok","type":"ftBoolean"},
  {"name":"note","type":"ftMemo"},{"name":"photo","type":"ftBlob"}],
  "indexes":[{"name":"byName","fields":["name"],"options":["tiUnique"]}]},
 {"name":"copy","fields":[{"name":"id","type":"ftAutoInc"},{"name":"name","type":"ftString","size":40},
  {"name":"age","type":"ftInteger"},{"name":"born","type":"ftDate"},{"name":"ok","type":"ftBoolean"},
  {"name":"note","type":"ftMemo"},{"name":"photo","type":"ftBlob"}]}]}
JSON
"$R" create "$W/db.dat" --schema "$W/schema.json" || fail "create"

# 1. A scripted session: insert, filter, a refused row that does not end the session, check, and
#    every dot-command.
cat >"$W/more.txt" <<'EOF2'
# a comment, then a command read through .read
insert people {"name": "王五", "age": 61}
EOF2
"$R" shell "$W/db.dat" >"$W/out" 2>"$W/err" <<EOF2
.help
.tables
insert people [{"name": "张三", "age": 30, "born": "1994-05-06", "ok": true, "note": "逗号, \"引号\"\n换行"}, {"name": "li", "age": 7, "photo": {"hex": "00ff"}}]
insert people {"name": "li", "age": 8}
.read $W/more.txt
.mode table
dump people --filter "age > 20" --index byName
.mode
.mode csv
dump people --filter "name = 'li'"
.mode json
.schema copy
.schema
.mode yaml
check
.quit
dump people
EOF2
rc=$?
[ $rc -eq 2 ] || fail "the session's status is $rc, want 2 (its last failure was a usage error)"
has "$W/out" "Dot-commands:" ".help"
has "$W/out" "copy" ".tables"
has "$W/err" "Invalid unique field value 'li'" "the refused duplicate"
has "$W/out" '"name":"王五"' ".read"
has "$W/out" "张三 |  30" ".mode table"
has "$W/out" "王五 |  61" ".mode table"
has "$W/out" "(2 rows)" ".mode table"
grep -q "^table$" "$W/out" || fail ".mode without a word does not print the mode"
has "$W/out" "id,name,age,born,ok,note,photo" ".mode csv header"
has "$W/out" "2,li,7," ".mode csv row"
has "$W/out" ",false,,00ff" ".mode csv row"
has "$W/out" '"name": "copy"' ".schema copy"
[ "$(grep -c '"RecordTabCount"' "$W/out")" -eq 3 ] || fail ".schema without a table shows each table"
has "$W/err" ".mode needs json, table or csv, not 'yaml'" ".mode yaml"
has "$W/out" "ok" "check"
[ "$(grep -c '"name": "li"' "$W/out")" -eq 0 ] || fail "a command after .quit ran"

# 2. Another program writes while the session is open: the session's next command sees it.
coproc SHELL { "$R" shell "$W/db.dat" 2>&1; }
# bash unsets SHELL_PID once the session has ended, which may be before the wait below.
session_pid=$SHELL_PID
ask() {  # ask COMMAND: sends it and reads the JSON array it prints, up to its closing "]"
  echo "$1" >&"${SHELL[1]}"
  : >"$W/answer"
  while IFS= read -r -t 60 line <&"${SHELL[0]}"; do
    echo "$line" >>"$W/answer"
    [ "$line" = "]" ] || [ "$line" = "[]" ] && return 0
  done
  fail "no answer to $1"
}
ask "dump people --mode json --filter \"name = 'other'\""
[ "$(cat "$W/answer")" = "[]" ] || fail "the row is there before it was written: $(cat "$W/answer")"
"$R" insert "$W/db.dat" people '{"name": "other", "age": 1}' >/dev/null || fail "the other program's insert"
ask "dump people --mode json --filter \"name = 'other'\""
has "$W/answer" '"name": "other"' "the session after another program's insert"
"$R" update "$W/db.dat" people --filter "name = 'other'" --set '{"age": 2}' >/dev/null || fail "the other program's update"
ask "dump people --mode json --filter \"name = 'other'\""
has "$W/answer" '"age": 2' "the session after another program's update"
echo ".quit" >&"${SHELL[1]}"
wait "$session_pid" || fail "the session did not end well"

# 3. CSV round trip: what export writes, import reads back as the same rows.
"$R" export "$W/db.dat" people --csv >"$W/people.csv" || fail "export"
grep -q $'\r$' "$W/people.csv" || fail "records do not end with CRLF"
"$R" import "$W/db.dat" copy "$W/people.csv" >/dev/null || fail "import: $(cat "$W/people.csv")"
"$R" dump "$W/db.dat" people --mode json >"$W/a.json"
"$R" dump "$W/db.dat" copy --mode json >"$W/b.json"
cmp -s "$W/a.json" "$W/b.json" || fail "the round trip changed rows: $(diff "$W/a.json" "$W/b.json")"
grep -qF '"note": "逗号, \"引号\"\n换行"' "$W/b.json" || fail "the note did not come back whole"
# A cell that does not fit its field is refused with its record and field, and nothing is written.
printf 'name,age\r\nx,1\r\ny,lots\r\n' >"$W/bad.csv"
"$R" import "$W/db.dat" copy "$W/bad.csv" >/dev/null 2>"$W/err"
[ $? -eq 2 ] || fail "a bad CSV cell was not a usage error"
has "$W/err" "CSV record 3, field 'age': not a number: 'lots'" "the bad cell"
[ "$("$R" dump "$W/db.dat" copy --mode json --filter "name = 'x'")" = "[]" ] || fail "a refused import wrote rows"

# A table whose name stands inside the word insert takes the rows after the name.
echo '{"tables":[{"name":"t","fields":[{"name":"n","type":"ftInteger"}]}]}' >"$W/t.json"
"$R" create "$W/t.dat" --schema "$W/t.json" || fail "create t"
printf 'insert t {"n": 7}\ninsert "t" [{"n": 8}]\n' | "$R" shell "$W/t.dat" >"$W/out" 2>"$W/err" || fail "insert into t: $(cat "$W/err")"
has "$W/out" '{"n":7}' "insert into t"
has "$W/out" '{"n":8}' "insert into a quoted t"

# 4. --help and --version.
"$R" --version | grep -q "^radezi " || fail "--version"
"$R" shell --help | grep -q ".schema" || fail "shell --help"
"$R" --help | grep -q "export FILE TABLE --csv" || fail "--help"
echo "radezi_shell: all passed"
