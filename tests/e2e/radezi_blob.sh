#!/usr/bin/env bash
# radezi update of rows with blob fields, under each kind of processing: a field set beside a
# memo that was never read or that the filter read, the memo replaced (in durable mode), the memo
# cleared. Each command must end (a hung command keeps the file lock) and leave the other values
# whole. Usage: radezi_blob.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"
# A command that does not end within a minute has hung.
expect_rc() { local want=$1; shift; timeout 60 "$@" >"$W/out" 2>"$W/err"; local rc=$?; [ $rc -eq $want ] || fail "$* gave $rc, want $want: $(cat "$W/err")"; }

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"T","fields":[
  {"name":"Id","type":"ftInteger"},{"name":"Name","type":"ftString","size":16},
  {"name":"Note","type":"ftMemo"},{"name":"Extra","type":"ftMemo"}]}]}
JSON
echo '[{"Id":1,"Name":"one","Note":"the first note","Extra":"kept"},{"Id":2,"Name":"two","Note":"second"}]' >"$W/rows.json"

# name: create options
setups=("plain:" "zlib:--compress" "blowfish:--encrypt Blowfish --mode 0 --password pw"
        "twofish:--encrypt Twofish --mode 1 --password pw" "gost:--compress --encrypt Gost --mode 3 --password pw")
for s in "${setups[@]}"; do
  name=${s%%:*}
  read -r -a opts <<<"${s#*:}"
  db="$W/$name.dat"
  pw=()
  [[ "${s#*:}" == *--password* ]] && pw=(--password pw)
  expect_rc 0 "$R" create "$db" --schema "$W/schema.json" "${opts[@]}"
  expect_rc 0 "$R" "${pw[@]}" insert "$db" T --rows "$W/rows.json"

  expect_rc 0 "$R" "${pw[@]}" update "$db" T --filter "Id = 1" --set '{"Name":"x"}'
  [ "$(cat "$W/out")" = 1 ] || fail "$name: update count $(cat "$W/out")"
  expect_rc 0 "$R" "${pw[@]}" dump "$db" T --filter "Id = 1"
  grep -q '"Name": "x"' "$W/out" && grep -q '"Note": "the first note"' "$W/out" &&
    grep -q '"Extra": "kept"' "$W/out" || fail "$name: unread memo: $(cat "$W/out")"

  # The memo read by the filter, the row then written.
  expect_rc 0 "$R" "${pw[@]}" update "$db" T --filter "Note = 'the first note'" --set '{"Name":"y"}'
  [ "$(cat "$W/out")" = 1 ] || fail "$name: update by memo $(cat "$W/out")"
  expect_rc 0 "$R" "${pw[@]}" dump "$db" T --filter "Id = 1"
  grep -q '"Name": "y"' "$W/out" && grep -q '"Note": "the first note"' "$W/out" || fail "$name: read memo: $(cat "$W/out")"

  expect_rc 0 "$R" "${pw[@]}" --durable update "$db" T --filter "Id = 1" \
    --set '{"Note":"a replacing note that is longer than its area of sixty-four bytes, so it moves"}'
  expect_rc 0 "$R" "${pw[@]}" dump "$db" T --filter "Id = 1"
  grep -q '"Note": "a replacing note that is longer than its area of sixty-four bytes, so it moves"' "$W/out" &&
    grep -q '"Extra": "kept"' "$W/out" || fail "$name: replaced memo: $(cat "$W/out")"

  expect_rc 0 "$R" "${pw[@]}" update "$db" T --filter "Id = 2" --set '{"Note":""}'
  expect_rc 0 "$R" "${pw[@]}" dump "$db" T --filter "Id = 2"
  grep -q '"Note": ""' "$W/out" && grep -q '"Name": "two"' "$W/out" || fail "$name: cleared memo: $(cat "$W/out")"

  expect_rc 0 "$R" "${pw[@]}" check "$db"
done
echo ok
