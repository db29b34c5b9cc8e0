#!/bin/sh
# Runs the tool once and checks its exit status, its standard output against
# a golden file and how many lines it wrote to standard error.
# usage: cli.sh STATUS GOLDEN STDERR_LINES OUTPUT COMMAND [ARG...]
# GOLDEN "-" checks no output; "prefix:FILE" wants a shorter, clean prefix of
# FILE. OUTPUT ">>FILE" appends to FILE, which starts as a copy of GOLDEN.
status=$1 golden=$2 errors=$3 output=$4
shift 4
err=$(mktemp) || exit 1
trap 'rm -f "$err"' EXIT
case $output in
'>>'*)
	output=${output#>>}
	cp "$golden" "$output" || exit 1
	# A tool that reads what it appends would fill the disk: cap the file.
	(ulimit -f 2048 && "$@" >>"$output" 2>"$err")
	;;
*) "$@" >"$output" 2>"$err" ;;
esac
got=$?
fail=0
if [ "$got" != "$status" ]; then
	echo "exit status $got, expected $status"
	fail=1
fi
case $golden in
-) ;;
prefix:*)
	golden=${golden#prefix:}
	size=$(wc -c <"$output")
	if [ "$size" -ge "$(wc -c <"$golden")" ] || ! head -c "$size" "$golden" | cmp - "$output"; then
		echo "output is not a shorter prefix of $golden"
		fail=1
	fi
	;;
*) cmp "$output" "$golden" || fail=1 ;;
esac
lines=$(wc -l <"$err")
if [ "$lines" -ne "$errors" ]; then
	echo "$lines lines on standard error, expected $errors:"
	cat "$err"
	fail=1
fi
exit $fail
