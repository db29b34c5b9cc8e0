#!/bin/sh
# usage: cli.sh STATUS GOLDEN STDERR_LINES OUTPUT COMMAND [ARG...]
# Runs COMMAND with its standard output in OUTPUT (">>FILE": appended to
# FILE, a copy of GOLDEN unless it is "-"), and checks its exit status, the output against
# GOLDEN ("-": not checked) and how many lines it wrote to standard error.
status=$1 golden=$2 errors=$3 output=$4
shift 4
err=${output##*[/>]}.err # in the test's directory, beside its output
case $output in
'>>'*) output=${output#>>} && { [ "$golden" = - ] || cp "$golden" "$output"; } || exit 1 ;;
*) : >"$output" ;;
esac
# Capped: a tool that read what it appends would fill the disk.
(ulimit -f 65536 && "$@" >>"$output" 2>"$err")
got=$? fail=0
[ "$got" = "$status" ] || { echo "exit status $got, expected $status"; fail=1; }
[ "$golden" = - ] || cmp "$output" "$golden" || fail=1
# Wine's first run in a new prefix says so on standard error: not counted.
[ "$(grep -cv '^wine: ' "$err")" -eq "$errors" ] || { echo "expected $errors lines on standard error:"; cat "$err"; fail=1; }
exit $fail
