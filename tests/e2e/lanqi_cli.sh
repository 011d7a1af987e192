#!/usr/bin/env bash
# lanqi's command line from outside, with no display: every sub-command, its output and its exit codes,
# on a real catalog and real files. Usage: lanqi_cli.sh BUILD_DIR
set -u
L="$1/app/lanqi"
. "$(dirname "$0")/lib/common.sh"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
lq() { "$L" --catalog "$W/cat.dat" "$@"; }

"$R" catalog init "$W/cat.dat" >/dev/null || fail "catalog init"
mkdir -p "$W/area" "$W/work"
cd "$W/work"
printf 'line one\nline two\n' >notes.txt
touch -d '2026-01-02 10:00:00' notes.txt

# The desktop start without a display says so and names the command line.
"$L" >"$W/out" 2>"$W/err"
[ $? -eq 2 ] && grep -q "no display" "$W/err" && grep -q "lanqi --help" "$W/err" || fail "no display: $(cat "$W/err")"

# Help, usage errors.
expect_rc 0 "$L" --help
grep -q "usage: lanqi" "$W/out" || fail "help"
for c in list history show diff restore add-area add add-folder remove-folder capture status cleanup; do
  expect_rc 0 "$L" "$c" --help
  grep -q "usage: lanqi $c" "$W/out" || fail "$c --help: $(cat "$W/out")"
done
expect_rc 2 "$L" frobnicate
expect_rc 2 lq
expect_rc 2 lq history
expect_rc 2 lq list --bogus
expect_rc 2 lq add notes.txt
expect_rc 1 "$L" --catalog "$W/none.dat" list

# add-area and add, through relative paths.
expect_rc 0 lq add-area "文档" ../area
expect_rc 1 lq add-area other "$W/no-such-folder"
expect_rc 1 lq add notes.txt --area nobody
expect_rc 1 lq add missing.txt --area "文档"
expect_rc 0 lq add notes.txt --area "文档"
v1=$(lq history notes.txt | cut -f1)
[ "$v1" = "2026-01-02-10-00-00" ] || fail "first version: $v1"
expect_rc 3 lq add notes.txt --area "文档"
grep -q "文件已在监控中" "$W/err" || fail "tracked twice: $(cat "$W/err")"

expect_rc 0 lq list --json
python3 - "$W/out" "$W" <<'PY' || fail "list --json: $(cat "$W/out")"
import json, sys
j = json.load(open(sys.argv[1]))
w = sys.argv[2]
import os
size = os.path.getsize(w + "/work/notes.txt")  # the one copy is the file as it was added
assert j == [{"area": "文档", "folder": w + "/area",
              "files": [{"path": w + "/work/notes.txt", "versions": 1, "space": size}], "space": size}], j
PY
expect_rc 0 lq list
size=$(stat -c %s notes.txt)
[ "$(cat "$W/out")" = "文档	$W/area	$size bytes
	$W/work/notes.txt	1 version	$size bytes" ] || fail "list: $(cat "$W/out")"

# status and capture: only a changed stamp counts; named files and unknown ones.
expect_rc 0 lq status
[ ! -s "$W/out" ] || fail "status of an unchanged file: $(cat "$W/out")"
printf 'line one\nline 2\nline three\n' >notes.txt
touch -d '2026-01-02 11:00:00' notes.txt
expect_rc 0 lq status
[ "$(cat "$W/out")" = "changed	$W/work/notes.txt" ] || fail "status: $(cat "$W/out")"
expect_rc 1 lq capture other.txt
expect_rc 0 lq capture notes.txt --note "第二版"
[ "$(cat "$W/out")" = "$W/work/notes.txt	2026-01-02-11-00-00" ] || fail "capture: $(cat "$W/out")"
expect_rc 0 lq capture
[ ! -s "$W/out" ] || fail "capture of nothing changed: $(cat "$W/out")"
expect_rc 0 lq status
[ ! -s "$W/out" ] || fail "status after capture"

expect_rc 0 lq history notes.txt --json
python3 - "$W/out" "$W" <<'PY' || fail "history --json: $(cat "$W/out")"
import json, sys
j = json.load(open(sys.argv[1]))
w = sys.argv[2]
assert [v["version"] for v in j] == ["2026-01-02-11-00-00", "2026-01-02-10-00-00"], j
assert [v["size"] for v in j] == [27, 18], j
assert [v["note"] for v in j] == ["第二版", ""], j
assert j[1]["copy"] == w + "/area/notes.txt-bak/notes{2026-01-02-10-00-00}.txt", j
PY
expect_rc 1 lq history "$W/elsewhere.txt"

# show: the bytes exactly.
expect_rc 0 lq show notes.txt "$v1"
cmp -s "$W/out" <(printf 'line one\nline two\n') || fail "show: $(od -c "$W/out" | head)"
expect_rc 1 lq show notes.txt 2001-01-01-00-00-00
expect_rc 1 lq show other.txt "$v1"

# diff: newest against the file, a version against the file, two versions.
expect_rc 0 lq diff notes.txt
[ ! -s "$W/out" ] || fail "diff of an unchanged file: $(cat "$W/out")"
expect_rc 0 lq diff notes.txt "$v1" 2026-01-02-11-00-00
grep -qx -- "-line two" "$W/out" && grep -qx -- "+line 2" "$W/out" && grep -qx -- "+line three" "$W/out" || fail "diff: $(cat "$W/out")"
echo "line four" >>notes.txt
touch -d '2026-01-02 12:00:00' notes.txt
expect_rc 0 lq diff notes.txt
grep -qx -- "+line four" "$W/out" || fail "diff against the file: $(cat "$W/out")"
expect_rc 1 lq diff notes.txt 2001-01-01-00-00-00
expect_rc 1 lq diff other.txt

# restore: the unsaved state is kept first, the file gets the version's bytes and keeps its mode,
# and nothing is left to capture.
chmod 0640 notes.txt
expect_rc 0 lq restore notes.txt "$v1"
grep -q "恢复前自动保存" "$W/out" && grep -q "恢复自 $v1" "$W/out" || fail "restore: $(cat "$W/out")"
cmp -s notes.txt <(printf 'line one\nline two\n') || fail "restored bytes"
[ "$(stat -c %a notes.txt)" = 640 ] || fail "mode $(stat -c %a notes.txt)"
expect_rc 0 lq history notes.txt
[ "$(wc -l <"$W/out")" -eq 4 ] || fail "history after restore: $(cat "$W/out")"
head -2 "$W/out" | cut -f3 | tr '\n' '|' | grep -qx "恢复自 $v1|恢复前自动保存|" || fail "restore rows: $(cat "$W/out")"
saved=$(sed -n 2p "$W/out" | cut -f1)
expect_rc 0 lq show notes.txt "$saved"
grep -qx "line four" "$W/out" || fail "the pre-restore version lost the unsaved change"
expect_rc 0 lq status
[ ! -s "$W/out" ] || fail "status after restore: $(cat "$W/out")"
expect_rc 1 lq restore notes.txt 2001-01-01-00-00-00
expect_rc 1 lq restore other.txt "$v1"
chmod 0444 notes.txt
if [ "$(id -u)" = 0 ] || [ ! -w notes.txt ]; then
  expect_rc 3 lq restore notes.txt 2026-01-02-11-00-00
  grep -q "文件无法写入" "$W/err" || fail "read-only: $(cat "$W/err")"
  cmp -s notes.txt <(printf 'line one\nline two\n') || fail "a read-only file was changed"
fi
chmod 0644 notes.txt
mv "$W/area/notes.txt-bak/notes{2026-01-02-11-00-00}.txt" "$W/lost"
expect_rc 3 lq restore notes.txt 2026-01-02-11-00-00
grep -q "版本文件不存在" "$W/err" || fail "missing copy: $(cat "$W/err")"
expect_rc 3 lq show notes.txt 2026-01-02-11-00-00

# add-folder: the admitted files now, new ones at the next capture; lock files and, without
# --recursive, sub-folders left out.
mkdir -p "$W/docs/sub" "$W/tree/sub"
echo one >"$W/docs/one.txt"
echo log >"$W/docs/x.log"
echo lock >"$W/docs/.~lock.one.txt#"
echo deep >"$W/docs/sub/deep.txt"
expect_rc 2 lq add-folder "$W/docs"
expect_rc 2 lq add-folder "$W/docs" --area "文档" --bogus
expect_rc 1 lq add-folder "$W/no-such-folder" --area "文档"
expect_rc 1 lq add-folder "$W/docs" --area nobody
expect_rc 0 lq add-folder ../docs --area "文档" --include "*.txt"
[ "$(grep -c '^tracking ' "$W/out")" -eq 2 ] && grep -q "^tracking $W/docs/one.txt, version " "$W/out" ||
  fail "add-folder: $(cat "$W/out")"
expect_rc 3 lq add-folder "$W/docs/" --area "文档"
grep -q "目录已在监控中" "$W/err" || fail "folder tracked twice: $(cat "$W/err")"
echo new >"$W/docs/new.txt"
echo lock >"$W/docs/~\$new.txt"
echo new >"$W/docs/sub/new.txt"
expect_rc 0 lq capture
[ "$(cut -f1 "$W/out")" = "$W/docs/new.txt" ] || fail "capture of a folder's new file: $(cat "$W/out")"
expect_rc 0 lq history "$W/docs/new.txt"
[ "$(wc -l <"$W/out")" -eq 1 ] || fail "first version of a new file: $(cat "$W/out")"
expect_rc 1 lq history "$W/docs/sub/new.txt"
echo named >"$W/docs/named.txt"
expect_rc 1 lq capture "$W/docs/named.log"
expect_rc 0 lq capture "$W/docs/named.txt"
[ "$(cut -f1 "$W/out")" = "$W/docs/named.txt" ] || fail "capture of a named new file: $(cat "$W/out")"
echo deep >"$W/tree/sub/deep.txt"
expect_rc 0 lq add-folder "$W/tree" --area "文档" --recursive --exclude "*.bak"
grep -q "^tracking $W/tree/sub/deep.txt, version " "$W/out" || fail "recursive add-folder: $(cat "$W/out")"
expect_rc 0 lq list --json
python3 - "$W/out" "$W" <<'PY' || fail "list --json with folders: $(cat "$W/out")"
import json, sys
j = json.load(open(sys.argv[1]))
w = sys.argv[2]
assert j[0]["tracked_folders"] == [
    {"path": w + "/docs", "recursive": False, "include": "*.txt", "exclude": ""},
    {"path": w + "/tree", "recursive": True, "include": "", "exclude": "*.bak"}], j
PY
expect_rc 0 lq list
grep -qx "	$W/tree/	tracked folder, recursive, exclude \*.bak" "$W/out" || fail "list with folders: $(cat "$W/out")"
# Removing the folder stops tracking new files; the files it tracked keep their versions.
expect_rc 0 lq remove-folder "$W/docs"
expect_rc 1 lq remove-folder "$W/docs"
echo after >"$W/docs/after.txt"
expect_rc 0 lq capture
[ ! -s "$W/out" ] || fail "capture after remove-folder: $(cat "$W/out")"
expect_rc 0 lq history "$W/docs/one.txt"
[ "$(wc -l <"$W/out")" -eq 1 ] || fail "versions after remove-folder: $(cat "$W/out")"

# The catalog still checks clean after all of it.
expect_rc 0 "$R" check "$W/cat.dat"
echo "lanqi command line: ok"
