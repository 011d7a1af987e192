# Sourced by the end-to-end scripts, after their `set -u`, with the build folder as $1: R is that
# build's radezi, W a scratch folder removed at exit, fail ends the script with a message, and
# expect_rc WANT COMMAND… runs the command into $W/out and $W/err and fails unless it exits WANT.
R="$1/tools/radezi"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
expect_rc() {
  local want=$1
  shift
  "$@" >"$W/out" 2>"$W/err"
  local rc=$?
  [ $rc -eq $want ] || fail "$* gave $rc, want $want: $(cat "$W/err") $(cat "$W/out")"
}
