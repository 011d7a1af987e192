#!/usr/bin/env bash
# Four programs at once on one database, each running one-shot radezi commands that mix appends,
# key changes, memo rewrites and deletes over a small key space, plain and encrypted (Twofish
# mode 1). A command may lose a race ("Record not found", a unique key taken meanwhile); anything
# else is a fault, and so is a file that does not check clean or holds a unique key twice.
# Usage: radezi_concurrent.sh BUILD_DIR [RUNS] [COMMANDS_PER_PROGRAM]
# The defaults keep the suite short; a long run: radezi_concurrent.sh build 24 300
set -u
R="$1/tools/radezi"
RUNS=${2:-2}
COMMANDS=${3:-40}
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"items","fields":[
  {"name":"id","type":"ftAutoInc"},{"name":"key","type":"ftString","size":12},
  {"name":"n","type":"ftInteger"},{"name":"note","type":"ftMemo"}],
 "indexes":[{"name":"byKey","fields":["key"],"options":["tiUnique"]},
            {"name":"byN","fields":["n"],"options":["tiDescending"]}]}]}
JSON

# One program: COMMANDS one-shot commands; prints "commands races faults", the faults to $W/faults.
program() {
  local db=$1 seed=$2 pw=("${@:3}")
  RANDOM=$seed
  local commands=0 races=0 faults=0 out err rc
  for ((i = 0; i < COMMANDS; i++)); do
    local a="k$((RANDOM % 40))" b="k$((RANDOM % 40))" n=$((RANDOM % 1000))
    local note=""
    ((RANDOM % 4 == 0)) && note=$(printf 'x%.0s' $(seq 1 $((RANDOM % 150))))
    err="$W/err.$seed"
    case $((RANDOM % 4)) in
      0) echo "[{\"key\":\"$a\",\"n\":$n,\"note\":\"$note\"}]" | "$R" "${pw[@]}" insert "$db" items >/dev/null 2>"$err" ;;
      1) "$R" "${pw[@]}" update "$db" items --filter "key = '$a'" --set "{\"key\":\"$b\",\"n\":$n}" >/dev/null 2>"$err" ;;
      2) "$R" "${pw[@]}" update "$db" items --filter "key = '$a'" --set "{\"note\":\"$note\"}" >/dev/null 2>"$err" ;;
      3) "$R" "${pw[@]}" delete "$db" items --filter "key = '$a'" >/dev/null 2>"$err" ;;
    esac
    rc=$?
    commands=$((commands + 1))
    if [ $rc -eq 0 ]; then
      :
    elif [ $rc -eq 3 ] && grep -qE "^(Row [0-9]+: )?(Record not found|Invalid unique field value '[a-z0-9]*')(; no row was (inserted|changed|deleted))?$" "$err"; then
      races=$((races + 1))
    else
      faults=$((faults + 1))
      echo "program $seed command $i exit $rc: $(cat "$err")" >>"$W/faults"
    fi
  done
  echo "$commands $races $faults"
}

total_commands=0 total_races=0 total_faults=0
for ((run = 1; run <= RUNS; run++)); do
  db="$W/run$run.dat"
  pw=()
  if ((run % 2 == 0)); then
    pw=(--password pw)
    "$R" create "$db" --schema "$W/schema.json" --encrypt Twofish --mode 1 --password pw >/dev/null || exit 1
  else
    "$R" create "$db" --schema "$W/schema.json" >/dev/null || exit 1
  fi
  python3 -c "import json; print(json.dumps([{'key': 'k%d' % i, 'n': i} for i in range(0, 40, 2)]))" |
    "$R" "${pw[@]}" insert "$db" items >/dev/null || exit 1
  for p in 1 2 3 4; do program "$db" $((run * 10 + p)) "${pw[@]}" >"$W/counts.$p" & done
  wait
  for p in 1 2 3 4; do
    read -r c r f <"$W/counts.$p"
    total_commands=$((total_commands + c)) total_races=$((total_races + r)) total_faults=$((total_faults + f))
  done
  if ! "$R" "${pw[@]}" check "$db" >"$W/check" 2>&1; then
    total_faults=$((total_faults + 1))
    echo "run $run: check: $(cat "$W/check")" >>"$W/faults"
  fi
  if ! "$R" "${pw[@]}" dump "$db" items --index byKey >"$W/dump" 2>&1; then
    total_faults=$((total_faults + 1))
    echo "run $run: dump: $(tail -1 "$W/dump")" >>"$W/faults"
  fi
  twice=$(grep -o '"key": "[a-z0-9]*"' "$W/dump" | sort | uniq -d)
  if [ -n "$twice" ]; then
    total_faults=$((total_faults + 1))
    echo "run $run: a unique key twice: $twice" >>"$W/faults"
  fi
  rm -f "$db"
done

echo "runs $RUNS, commands $total_commands, lost races $total_races, faults $total_faults"
if [ -s "$W/faults" ]; then
  head -20 "$W/faults"
  exit 1
fi
exit 0
