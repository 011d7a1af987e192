#!/usr/bin/env bash
# The desktop program from outside, under Xvfb: a catalog prepared with radezi, a second start that
# ends at once, a save of a tracked file that brings up the note prompt, the prompt closing itself,
# the version list at the default size, the compare window with the change marked, a restore
# through the version's menu, a folder tracked from the command line and a new file saved in it
# tracked, an unchanged save that asks for nothing, the report page, the end of the session, and
# the catalog and the copies afterwards.
# Usage: lanqi_e2e.sh BUILD_DIR. Screenshots are kept in BUILD_DIR/e2e-artifacts/lanqi/.
set -u
B=$(cd "$1" && pwd)
R="$B/tools/radezi"
L="$B/app/lanqi"
ART="$B/e2e-artifacts/lanqi"
W=$(mktemp -d)
XVFB=""
APP=""
cleanup() {
  [ -n "$APP" ] && kill "$APP" 2>/dev/null
  [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null
  rm -rf "$W"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -f "$W/lanqi.err" ] && sed 's/^/  lanqi: /' "$W/lanqi.err" | grep -v 'XDG_RUNTIME\|propagateSizeHints' | head -20
  exit 1
}
for tool in Xvfb xwininfo import; do
  command -v $tool >/dev/null || fail "$tool is missing (./setup installs it)"
done
[ -x "$L" ] || fail "lanqi is not built"
[ -x "$R" ] || fail "radezi is not built"
mkdir -p "$ART"
rm -f "$ART"/*.png

# The program looks for its catalog beside itself; the home folder is the one watched drive.
mkdir -p "$W/bin" "$W/home/docs" "$W/home/area" "$W/run"
chmod 700 "$W/run"
cp "$L" "$W/bin/lanqi"
export HOME="$W/home" XDG_CONFIG_HOME="$W/home/.config" XDG_RUNTIME_DIR="$W/run"
unset QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
CAT="$W/bin/版本控制.dat"
"$R" catalog init "$CAT" >/dev/null || fail "catalog init"

# Tracked files with a known last write; their stored stamps agree, so only a new save differs.
REPORT="$HOME/docs/report.txt"
printf 'first draft\n' >"$REPORT"
printf 'budget\n' >"$HOME/docs/budget.csv"
touch -d "2020-06-01 10:00:00" "$REPORT" "$HOME/docs/budget.csv"
mkdir -p "$HOME/area/report.txt-bak" "$HOME/area/budget.csv-bak"
# The copies of the two report versions: the newest holds what the file holds now.
printf 'title\nan early outline\n' >"$HOME/area/report.txt-bak/report{2020-05-30-09-12-04}.txt"
cp "$REPORT" "$HOME/area/report.txt-bak/report{2020-06-01-10-00-00}.txt"
ins() { "$R" insert "$CAT" "$1" >>"$W/insert.out" 2>>"$W/insert.err" || fail "radezi insert $1: $(cat "$W/insert.err")"; }
echo "[{\"名称\":\"文档\",\"目录\":\"$HOME/area\"},{\"名称\":\"账目\",\"目录\":\"$HOME/area\"}]" | ins 数据存储区
echo "[{\"存储区序号\":1,\"源文件名称\":\"$REPORT\",\"备份文件目录\":\"$HOME/area/report.txt-bak\",\"大小\":\"2020-06-01-10-00-00\"},
       {\"存储区序号\":2,\"源文件名称\":\"$HOME/docs/budget.csv\",\"备份文件目录\":\"$HOME/area/budget.csv-bak\",\"大小\":\"2020-06-01-10-00-00\"}]" | ins 文件索引表
echo "[{\"文件序号\":1,\"说明\":\"初稿\",\"版本\":\"2020-05-30-09-12-04\",\"大小\":\"2048\",\"文件扩展名\":\".txt\",\"文件名称\":\"$HOME/area/report.txt-bak/report{2020-05-30-09-12-04}.txt\"},
       {\"文件序号\":1,\"说明\":\"\",\"版本\":\"2020-06-01-10-00-00\",\"大小\":\"1536\",\"文件扩展名\":\".txt\",\"文件名称\":\"$HOME/area/report.txt-bak/report{2020-06-01-10-00-00}.txt\"},
       {\"文件序号\":2,\"说明\":\"\",\"版本\":\"2020-06-01-10-00-00\",\"大小\":\"7\",\"文件扩展名\":\".csv\",\"文件名称\":\"$HOME/area/budget.csv-bak/budget{2020-06-01-10-00-00}.csv\"}]" | ins 文件版本表

command -v xdotool >/dev/null || fail "xdotool is missing (./setup installs it)"

# A display of our own.
exec 3>"$W/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$W/xvfb.log" 2>&1 &
XVFB=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$W/display" ] && break; sleep 0.1; done
[ -s "$W/display" ] || fail "Xvfb did not start: $(cat "$W/xvfb.log")"
export DISPLAY=":$(head -n1 "$W/display")"

# The id of the viewable window of this size, or nothing.
window_of_size() {
  local id
  for id in $(xwininfo -root -tree 2>/dev/null | awk -v s="$1" '$0 ~ " "s"[+-]" {print $1}'); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; return; }
  done
}
wait_window() {  # size, tenths of a second
  local i id
  for ((i = 0; i < $2; i++)); do
    id=$(window_of_size "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
now() { date +%s%3N; }   # milliseconds
elapsed() { echo $(($(now) - $1)); }

"$W/bin/lanqi" >"$W/lanqi.out" 2>"$W/lanqi.err" &
APP=$!
MAIN=$(wait_window 744x393 150) || fail "the main window did not appear"
kill -0 "$APP" 2>/dev/null || fail "lanqi ended at start"

# A second start ends at once with exit code 0 and opens nothing.
T=$(now)
timeout 10 "$W/bin/lanqi" >/dev/null 2>&1
rc=$?
[ $rc -eq 0 ] || fail "second start gave $rc"
[ "$(elapsed "$T")" -lt 3000 ] || fail "second start took $(elapsed "$T") ms"
kill -0 "$APP" 2>/dev/null || fail "the first instance ended"

# Let the pass that the program's own start-up writes caused run (it finds nothing changed).
sleep 7
[ -z "$(window_of_size 383x288)" ] || fail "a note prompt came up without a save"

# The save: the prompt within about 6 seconds.
printf 'second draft, longer\n' >"$REPORT"
T=$(now)
NOTE=$(wait_window 383x288 80) || fail "no note prompt within 8 s of the save"
echo "note prompt $(elapsed "$T") ms after the save"
sleep 0.5
import -window "$NOTE" "$ART/note-dialog.png" 2>/dev/null || fail "screenshot of the note prompt"
# Left alone, it closes itself 10 seconds after it opened.
T=$(now)
for _ in $(seq 150); do [ -z "$(window_of_size 383x288)" ] && break; sleep 0.1; done
[ -z "$(window_of_size 383x288)" ] || fail "the note prompt did not close itself"
GONE=$(($(elapsed "$T") + 500))
echo "note prompt closed itself about $GONE ms after it opened"
[ $GONE -gt 8000 ] && [ $GONE -lt 13000 ] || fail "the prompt closed after $GONE ms, not 10 s"

# What the saved file holds, for the checks at the end (the restore below changes the file).
cp "$REPORT" "$W/saved.txt"
SAVED_SECS=$(date -r "$REPORT" +%s)

# A click on the file node fills the version list; that is the default-size picture.
click() { xdotool mousemove --window "$MAIN" "$1" "$2" click "${3:-1}"; }
click 200 239
sleep 1
import -window "$MAIN" "$ART/main-window.png" 2>/dev/null || fail "screenshot of the main window"

# The version before the save (the second node under the file) beside the current file: its menu,
# 与当前文件比较 (the seventh command). The keys make it the current node, which scrolls the tree by
# one row so that it shows whole, at the height of the third row.
menu_pick() {  # x y downs
  click "$1" "$2" 3
  sleep 0.5
  for ((i = 0; i < $3; i++)); do xdotool key Down; done
  xdotool key Return
}
xdotool key Down Down
sleep 0.5
VERSION_Y=260
menu_pick 150 $VERSION_Y 7
CMP=$(wait_window 900x560 50) || fail "the compare window did not open"
sleep 1
import -window "$CMP" "$ART/compare-window.png" 2>/dev/null || fail "screenshot of the compare window"
# The changed lines are marked: the removed and added line colours are both on the screen.
for colour in '#FFECEC' '#EAFFEA'; do
  n=$(convert "$ART/compare-window.png" -fill black +opaque "$colour" -fill white -opaque "$colour" \
        -format '%[fx:round(mean*w*h)]' info:)
  [ "$n" -gt 500 ] || fail "the compare window marks no change in $colour ($n pixels)"
done
# Out of the way of the main window's menus.
xdotool windowunmap "$CMP" 2>/dev/null

# The same version put back through its menu, 恢复此版本 (the eighth command): the file holds the
# version's bytes and the catalog records the restore; the watcher's report of the write brings no
# prompt.
menu_pick 150 $VERSION_Y 8
OLD="$HOME/area/report.txt-bak/report{2020-06-01-10-00-00}.txt"
for _ in $(seq 50); do cmp -s "$REPORT" "$OLD" && break; sleep 0.1; done
cmp -s "$REPORT" "$OLD" || fail "the restore did not put the version back"
sleep 7
[ -z "$(window_of_size 383x288)" ] || fail "a note prompt came up after the restore"

# A folder tracked from the command line while the window runs: its admitted file gets its first
# version at once, an editor's lock file in it none; a file saved in it later becomes tracked by
# the window's next pass.
mkdir -p "$HOME/proj"
printf 'plan\n' >"$HOME/proj/plan.txt"
printf 'lock\n' >"$HOME/proj/.~lock.plan.txt#"
"$W/bin/lanqi" --catalog "$CAT" add-folder "$HOME/proj" --area 账目 >"$W/add-folder.out" 2>&1 ||
  fail "lanqi add-folder: $(cat "$W/add-folder.out")"
tracked() { "$R" dump "$CAT" 文件索引表 --mode json | grep -cF "\"$1\""; }
[ "$(tracked "$HOME/proj/plan.txt")" -eq 1 ] || fail "add-folder did not track plan.txt"
[ "$(tracked "$HOME/proj/.~lock.plan.txt#")" -eq 0 ] || fail "add-folder tracked an editor's lock file"
printf 'notes of the meeting\n' >"$HOME/proj/notes.txt"
for _ in $(seq 200); do [ "$(tracked "$HOME/proj/notes.txt")" -eq 1 ] && break; sleep 0.1; done
[ "$(tracked "$HOME/proj/notes.txt")" -eq 1 ] || fail "a file saved in the tracked folder was not tracked"
echo "a file saved in the tracked folder became tracked"
# Whatever prompt that brought closes itself.
for _ in $(seq 150); do [ -z "$(window_of_size 383x288)" ] && break; sleep 0.1; done

# A save that leaves the content as it was asks for nothing and records nothing.
VERSIONS=$("$R" dump "$CAT" 文件版本表 --mode json | grep -c '"版本"')
cp "$REPORT" "$W/same.txt"
cat "$W/same.txt" >"$REPORT"
sleep 8
[ -z "$(window_of_size 383x288)" ] || fail "an unchanged save brought a note prompt"
[ "$("$R" dump "$CAT" 文件版本表 --mode json | grep -c '"版本"')" -eq "$VERSIONS" ] || fail "an unchanged save recorded a version"
echo "an unchanged save prompted nothing"

# The report page (the ribbon's third page) for the README.
click 168 45
sleep 1.5
import -window "$MAIN" "$ART/report-page.png" 2>/dev/null || fail "screenshot of the report page"
click 38 45

# The end of the session.
sleep 1
kill -TERM "$APP"
for _ in $(seq 100); do kill -0 "$APP" 2>/dev/null || break; sleep 0.1; done
kill -0 "$APP" 2>/dev/null && fail "lanqi did not end after SIGTERM"
wait "$APP"
rc=$?
APP=""
[ $rc -eq 0 ] || fail "lanqi ended with $rc"

# The catalog holds the new version with an empty note, and its copy has the saved bytes.
"$R" dump "$CAT" 文件版本表 >"$W/versions.json" || fail "radezi dump"
# One row per line.
tr -d '\n' <"$W/versions.json" | sed 's/},/}\n/g' >"$W/rows"
"$R" dump "$CAT" 文件索引表 --mode json | grep 源文件名称; [ "$(wc -l <"$W/rows")" -eq 6 ] || fail "not seven versions (five of report.txt and budget.csv, the first of plan.txt and notes.txt): $(cat "$W/versions.json")"
grep -qF '"说明": "恢复自 2020-06-01-10-00-00"' "$W/rows" || fail "no restore row: $(cat "$W/versions.json")"
SECS=$SAVED_SECS
STAMP=$(date -d "@$((SECS / 2 * 2))" +%Y-%m-%d-%H-%M-%S)
ROW=$(grep -F "\"版本\": \"$STAMP\"" "$W/rows") || fail "no version $STAMP: $(cat "$W/versions.json")"
for want in '"文件序号": 1,' '"说明": "",' "\"大小\": \"$(stat -c %s "$W/saved.txt")\"," '"文件扩展名": ".txt",'; do
  echo "$ROW" | grep -qF "$want" || fail "the new version lacks $want: $ROW"
done
COPY=$(echo "$ROW" | sed 's/.*"文件名称": "\([^"]*\)".*/\1/')
[ "$COPY" = "$HOME/area/report.txt-bak/report{$STAMP}.txt" ] || fail "copy named $COPY"
cmp -s "$COPY" "$W/saved.txt" || fail "the copy does not hold the saved bytes"
"$R" dump "$CAT" 文件索引表 | grep -q '"大小": "2020-06-01-10-00-00"' || fail "the untouched file's stamp changed"
echo "ok (screenshots in $ART)"
