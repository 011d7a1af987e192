#!/usr/bin/env bash
# The file format document is enough to read a file: tests/format/read_dump.py, written from
# docs/file-format.md alone, dumps files the engine wrote (plain and compressed; every field type;
# more rows than one tab block holds; deleted rows; blobs moved by a longer rewrite; ascending,
# descending and case-insensitive indexes; the catalog's Chinese names) and must agree with
# `radezi dump` row for row. Usage: format_reader.sh BUILD_DIR
set -u
. "$(dirname "$0")/lib/common.sh"
READER="$(dirname "$0")/../format/read_dump.py"

# same FILE TABLE [INDEX]: both readers give the same rows in the same order.
same() {
  local extra=()
  [ -n "${3:-}" ] && extra=(--index "$3")
  "$R" dump "$1" "$2" "${extra[@]}" >"$W/engine.json" || fail "radezi dump $2 ${3:-}"
  python3 "$READER" "$1" "$2" "${extra[@]}" >"$W/reader.json" || fail "reader on $2 ${3:-}"
  python3 - "$W/engine.json" "$W/reader.json" <<'PY' || fail "$1 $2 ${3:-}: the reader disagrees with radezi dump"
import json, sys
a, b = (json.load(open(p, encoding="utf-8")) for p in sys.argv[1:3])
if a != b:
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            print("row", i, "engine", x, "reader", y)
            break
    print(len(a), "rows from the engine,", len(b), "from the reader")
    sys.exit(1)
PY
  echo "ok $(basename "$1") $2 ${3:-stored order}: $(python3 -c "import json,sys; print(len(json.load(open(sys.argv[1]))))" "$W/engine.json") rows"
}

cat >"$W/schema.json" <<'JSON'
{"tables":[{"name":"all","fields":[
  {"name":"id","type":"ftAutoInc"},{"name":"s","type":"ftString","size":12},{"name":"fc","type":"ftFixedChar","size":3},
  {"name":"sm","type":"ftSmallint"},{"name":"w","type":"ftWord"},{"name":"i","type":"ftInteger"},
  {"name":"l","type":"ftLargeint"},{"name":"b","type":"ftBoolean"},{"name":"fl","type":"ftFloat"},
  {"name":"cu","type":"ftCurrency"},{"name":"d","type":"ftDate"},{"name":"t","type":"ftTime"},
  {"name":"dt","type":"ftDateTime"},{"name":"m","type":"ftMemo"},{"name":"bl","type":"ftBlob"},
  {"name":"raw","type":"ftMemo","noProcessing":true}],
  "indexes":[{"name":"byS","fields":["s"],"options":["tiCaseInsensitive"]},
             {"name":"byIDesc","fields":["i","id"],"options":["tiDescending"]},
             {"name":"pk","fields":["id"],"options":["tiPrimary"]}]}]}
JSON
python3 - "$W/rows.json" <<'PY'
import json, sys
rows = []
for n in range(1100):
    rows.append({"s": ["Beta", "alpha", "中文", "gamma", "ALPHA"][n % 5] + str(n % 37),
                 "fc": "abc"[: n % 4], "sm": n - 550, "w": n * 7 % 65536, "i": (n * 7919) % 1000 - 500,
                 "l": n * 10**12, "b": n % 3 == 0, "fl": n / 8, "cu": n * 1.25,
                 "d": "20%02d-%02d-%02d" % (n % 100, n % 12 + 1, n % 28 + 1),
                 "t": "%02d:%02d:%02d.%03d" % (n % 24, n % 60, n % 60, n % 1000),
                 "dt": "2024-02-29 %02d:00:00.%03d" % (n % 24, n % 1000),
                 "m": ("备注 " * (n % 9)) + "\"q\", line\nbreak", "bl": {"hex": ("00ff%02x" % (n % 256)) * (n % 50)},
                 "raw": "plain %d" % n})
json.dump(rows, open(sys.argv[1], "w"), ensure_ascii=False)
PY

for mode in plain compressed; do
  db="$W/$mode.dat"
  opts=()
  [ $mode = compressed ] && opts=(--compress)
  "$R" create "$db" --schema "$W/schema.json" "${opts[@]}" >/dev/null || fail "create $mode"
  "$R" insert "$db" all --rows "$W/rows.json" >/dev/null || fail "insert $mode"
  "$R" delete "$db" all --filter "sm < -500 OR w = 14" >/dev/null || fail "delete $mode"
  # Longer blobs than their areas hold move to the end of the file; keys move in the chains.
  "$R" update "$db" all --filter "id > 1000" --set '{"m": "这一段说明比原来的长得多，所以它的新字节放不进旧的区域。", "s": "moved"}' >/dev/null ||
    fail "update $mode"
  "$R" check "$db" >/dev/null || fail "check $mode"
  for index in "" byS byIDesc pk; do same "$db" all "$index"; done
done

# The catalog as the tracker makes it: Chinese table and field names, some rows, one deleted.
cat="$W/版本控制.dat"
"$R" catalog init "$cat" >/dev/null || fail "catalog init"
echo '[{"名称":"文档","目录":"/home/用户/备份"}]' | "$R" insert "$cat" 数据存储区 >/dev/null || fail "area"
echo '[{"存储区序号":1,"源文件名称":"/home/用户/笔记.txt","备份文件目录":"/home/用户/备份","大小":"2026-12-11-10-00-00"}]' |
  "$R" insert "$cat" 文件索引表 >/dev/null || fail "file"
echo '[{"文件序号":1,"说明":"初稿","版本":"2026-12-11-10-00-00"},{"文件序号":1,"说明":"删除","版本":"x"},{"文件序号":1,"版本":"2026-12-11-11-00-00"}]' |
  "$R" insert "$cat" 文件版本表 >/dev/null || fail "versions"
"$R" delete "$cat" 文件版本表 --filter "版本 = 'x'" >/dev/null || fail "delete version"
for t in 数据存储区 文件索引表 文件版本表; do same "$cat" "$t"; done
same "$cat" 文件版本表 VerFile
[ "$(python3 "$READER" "$cat" | tr '\n' ' ')" = "数据存储区 文件索引表 文件版本表 " ] || fail "table names"

# An encrypted file is refused by this reader, not misread.
"$R" create "$W/secret.dat" --schema "$W/schema.json" --encrypt Twofish --mode 1 --password pw >/dev/null || fail "create secret"
python3 "$READER" "$W/secret.dat" all >/dev/null 2>&1
[ $? -eq 2 ] || fail "the encrypted file was not refused"
echo "format_reader: all passed"
