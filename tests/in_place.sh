#!/bin/sh
# usage: in_place.sh TALLYFIX DATA_DIR EXAMPLES_DIR
# --in-place on several files at once, a mode under a strict umask, a
# symbolic link, a clean file's time stamp; then a failed write, flush and
# rename, and an interrupt at the flush and at the rename, injected with
# strace: the file stays whole and no new file is left beside it.
tool=$1 data=$2 examples=$3
fail=0
check() { # check WHAT COMMAND...: a failed command is reported
	what=$1
	shift
	"$@" || { echo "failed: $what"; fail=1; }
}
fresh() { # the files, as they were
	rm -rf work && mkdir work && cd work || exit 1
	cp "$examples/sample.hex" fixed.hex
	cp "$data/sample.out" clean.hex
	cp "$data/flaws.hex" flaws.hex
	cp "$data/utf16le.hex" utf16.hex
	cp "$examples/sample.hex" linked.hex && ln linked.hex other-name.hex
	cp "$data/fixable.hex" fixable.hex
	touch -d @1000000000 clean.hex
	cd .. || exit 1
}
run() { # run STATUS STDERR_LINES COMMAND...: in work/, its status and stderr
	want=$1 lines=$2
	shift 2
	(cd work && "$@" >../out 2>../err)
	got=$?
	[ "$got" = "$want" ] || { echo "$*: status $got, expected $want"; fail=1; }
	[ "$(wc -l <err)" -eq "$lines" ] || { echo "$*: stderr:"; cat err; fail=1; }
	[ ! -s out ] || { echo "$*: standard output:"; cat out; fail=1; }
	ls -a work | grep -q tallyfix- && { echo "$*: a new file was left"; fail=1; }
}

fresh
run 0 0 "$tool" --check clean.hex
run 0 0 "$tool" -i clean.hex
run 1 1 "$tool" -i linked.hex # a flaw left, nothing failed
run 2 1 "$tool" -i missing.hex
check "why not" grep -qx 'tallyfix: missing.hex: No such file or directory' err
run 0 1 "$tool" -i fixed.hex
check "how many" grep -qx 'tallyfix: fixed.hex: 2 checksums fixed' err
printf ':0300300002337AFF\n' >work/one.hex
run 0 1 "$tool" -i one.hex
check "just one" grep -qx 'tallyfix: one.hex: 1 checksum fixed' err
fresh
# fixed (1 line), clean, flaws (14), UTF-16 (1), a hard link (1), fixed
# with lines left as they are (3).
run 2 20 "$tool" -i fixed.hex clean.hex flaws.hex utf16.hex linked.hex fixable.hex
check "fixed" cmp work/fixed.hex "$data/sample.out"
check "time stamp" test "$(stat -c %Y work/clean.hex)" = 1000000000
check "bad characters" cmp work/flaws.hex "$data/flaws.hex"
check "UTF-16" cmp work/utf16.hex "$data/utf16le.hex"
check "hard link" cmp work/linked.hex "$examples/sample.hex"
check "lines left" cmp work/fixable.hex "$data/fixable.fixed"

fresh
chmod 751 work/fixed.hex && ln -s fixed.hex work/link.hex
owner=$(chown 65534:65534 work/fixed.hex 2>/dev/null && echo 65534:65534 || stat -c %u:%g work/fixed.hex)
(umask 077 && cd work && "$tool" --in-place link.hex 2>/dev/null)
check "link" test -L work/link.hex
check "through the link" cmp work/fixed.hex "$data/sample.out"
check "mode" test "$(stat -c %a work/fixed.hex)" = 751
check "owner" test "$(stat -c %u:%g work/fixed.hex)" = "$owner"

command -v strace >/dev/null || { echo "strace missing: no failures injected"; exit $fail; }
export ASAN_OPTIONS="${ASAN_OPTIONS-}:detect_leaks=0" # LeakSanitizer cannot run under strace
renames=rename,renameat,renameat2
for inject in write:error=ENOSPC:when=1 fsync:error=EIO $renames:error=EXDEV; do
	fresh
	run 2 1 strace -o /dev/null -e trace="${inject%%:*}" -e inject="$inject" "$tool" -i fixed.hex
	check "$inject" cmp work/fixed.hex "$examples/sample.hex"
done
fresh # the folder's flush, after the rename: fixed, but said
run 2 1 strace -o /dev/null -e trace=fsync -e inject=fsync:error=EIO:when=2 "$tool" -i fixed.hex
check "folder flush" cmp work/fixed.hex "$data/sample.out"
for syscall in fsync $renames; do
	fresh
	run 130 0 strace -o /dev/null -e trace=$syscall -e inject=$syscall:signal=SIGINT \
		"$tool" -i fixed.hex
	# Once the rename has begun it finishes: the file is the fixed one, whole.
	[ "$syscall" = fsync ] && check "interrupted flush" cmp work/fixed.hex "$examples/sample.hex"
	[ "$syscall" = fsync ] || check "interrupted rename" cmp work/fixed.hex "$data/sample.out"
done
exit $fail
