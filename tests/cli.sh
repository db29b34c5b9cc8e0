#!/bin/sh
# Runs the tool once; checks its exit status, its standard output against a
# golden file and how many lines it wrote to standard error.
# usage: cli.sh STATUS GOLDEN STDERR_LINES OUTPUT COMMAND [ARG...]
# GOLDEN "-" checks no output; "prefix:FILE" wants a shorter, clean prefix of
# FILE. OUTPUT ">>FILE" appends to FILE, which starts as a copy of GOLDEN.
status=$1 golden=$2 errors=$3 output=$4
shift 4
err=${output##*[/>]}.err # in the test's directory, beside its output
case $output in
'>>'*) output=${output#>>} && cp "$golden" "$output" || exit 1 ;;
*) : >"$output" ;;
esac
# Output is capped: a tool that read what it appends would fill the disk.
(ulimit -f 65536 && "$@" >>"$output" 2>"$err")
got=$? fail=0
[ "$got" = "$status" ] || { echo "exit status $got, expected $status"; fail=1; }
case $golden in
-) ;;
prefix:*)
	golden=${golden#prefix:} size=$(wc -c <"$output")
	[ "$size" -lt "$(wc -c <"$golden")" ] && head -c "$size" "$golden" | cmp - "$output" ||
		{ echo "output is not a shorter prefix of $golden"; fail=1; } ;;
*) cmp "$output" "$golden" || fail=1 ;;
esac
# Wine's first run in a new prefix says so on standard error: not counted.
[ "$(grep -cv '^wine: ' "$err")" -eq "$errors" ] || { echo "expected $errors lines on standard error:"; cat "$err"; fail=1; }
exit $fail
