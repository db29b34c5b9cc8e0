#!/bin/sh
# Runs the tool once and checks its exit status, its standard output against
# a golden file ("-" for none) and how many lines it wrote to standard error.
# usage: cli.sh STATUS GOLDEN STDERR_LINES OUTPUT COMMAND [ARG...]
status=$1 golden=$2 errors=$3 output=$4
shift 4
err=$(mktemp) || exit 1
trap 'rm -f "$err"' EXIT
"$@" >"$output" 2>"$err"
got=$?
fail=0
if [ "$got" != "$status" ]; then
	echo "exit status $got, expected $status"
	fail=1
fi
if [ "$golden" != - ] && ! cmp "$output" "$golden"; then
	fail=1
fi
lines=$(wc -l <"$err")
if [ "$lines" -ne "$errors" ]; then
	echo "$lines lines on standard error, expected $errors:"
	cat "$err"
	fail=1
fi
exit $fail
