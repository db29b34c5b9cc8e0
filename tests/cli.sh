#!/bin/sh
# usage: cli.sh STATUS GOLDEN STDERR OUTPUT COMMAND [ARG...]
# Runs COMMAND with its standard output in OUTPUT (">>FILE": appended to
# FILE, a copy of GOLDEN unless it is "-"), and checks its exit status, the
# output against GOLDEN ("-": not checked) and its standard error: how many
# lines, or against a golden file when STDERR is one.
status=$1 golden=$2 errors=$3 output=$4
shift 4
err=${output##*[/>]}.$$.err # several tests write to /dev/full
trap 'rm -f "$err" "$err.own"' EXIT
case $output in
'>>'*) output=${output#>>} && { [ "$golden" = - ] || cp "$golden" "$output"; } || exit 1 ;;
*) : >"$output" ;;
esac
# Capped: a tool that read what it appends would fill the disk.
(ulimit -f 65536 && "$@" >>"$output" 2>"$err")
got=$? fail=0
[ "$got" = "$status" ] || { echo "exit status $got, expected $status"; fail=1; }
[ "$golden" = - ] || cmp "$output" "$golden" || fail=1
# Wine's first run in a new prefix says so on standard error: left out.
grep -v '^wine: ' "$err" | tr -d '\r' >"$err.own"
case $errors in
*[!0-9]*) cmp "$err.own" "$errors" || { cat "$err"; fail=1; } ;;
*) [ "$(wc -l <"$err.own")" -eq "$errors" ] || { echo "expected $errors lines on standard error:"; cat "$err"; fail=1; } ;;
esac
exit $fail
