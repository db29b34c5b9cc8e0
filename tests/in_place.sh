#!/bin/sh
# usage: in_place.sh DATA_DIR EXAMPLES_DIR SYSTEM TOOL...
# --in-place as users meet it, on POSIX or Windows (SYSTEM, under Wine):
# several files at once, a read-only file, links. Then, on POSIX, what may
# happen to a file while it is fixed, made to happen at a chosen system call
# with strace: a failure or a signal injected, or the tool stopped there
# while the test acts as another program. The file must end as it was,
# fixed, or as the other program left it, with no new file beside it.
data=$1 examples=$2 system=$3
shift 3
fail=0
check() { # check WHAT COMMAND...: a failed command is reported
	what=$1
	shift
	"$@" || { echo "failed: $what"; fail=1; }
}
fresh() { # the files, as they were
	rm -rf work work2 && mkdir work && cd work || exit 1
	cp "$examples/sample.hex" fixed.hex
	cp "$data/sample.out" clean.hex
	cp "$data/flaws.hex" flaws.hex
	cp "$data/utf16le.hex" utf16.hex
	cp "$examples/sample.hex" linked.hex && ln linked.hex other-name.hex
	cp "$data/sample.out" clean-linked.hex && ln clean-linked.hex clean-other.hex
	cp "$data/fixable.hex" fixable.hex
	touch -d @1000000000 clean.hex
	cd .. || exit 1
}
judge() { # judge STATUS STDERR_LINES GOT: the status, stderr, what is left
	[ "$3" = "$1" ] || { echo "$what: status $3, expected $1"; fail=1; }
	grep -v -e '^wine: ' -e '^Quit' err | tr -d '\r' >err.own # not the tool's
	[ "$(wc -l <err.own)" -eq "$2" ] || { echo "$what: stderr:"; cat err; fail=1; }
	[ ! -s out ] || { echo "$what: standard output:"; cat out; fail=1; }
	ls -a work* | grep -q tallyfix- && { echo "$what: a new file was left"; fail=1; }
}
run() { # run STATUS STDERR_LINES COMMAND...: in work/
	want=$1 lines=$2 what=$*
	shift 2
	(cd work && "$@" >../out 2>../err)
	judge "$want" "$lines" $?
}
said() { grep -q "$1" err.own || { echo "$what: not said: $1"; cat err.own; fail=1; }; }
same() { check "$what: $1" cmp "work/$1" "$2"; }

fresh
run 0 1 "$@" --check clean.hex
run 0 0 "$@" -i clean.hex clean-linked.hex # a hard link is refused only to be fixed
run 2 1 "$@" -i missing.hex
[ "$system" = windows ] || said 'missing.hex: No such file or directory'
run 0 1 "$@" -i fixed.hex
said '^tallyfix: fixed.hex: 2 checksums fixed$'
printf ':0300300002337AFF\n:00000001FF\n' >work/one.hex
run 0 1 "$@" -i one.hex
said '^tallyfix: one.hex: 1 checksum fixed$'
# Every record's checksum, not only data records': an image moved by hand.
printf ':020000040900F2\n:0300300002337AFF\n:00000001AA\n' >work/moved.hex
run 0 1 "$@" -i moved.hex
said '^tallyfix: moved.hex: 3 checksums fixed, 1 of them in an end-of-file record and 1 in an address record$'
printf ':020000040900F1\n:0300300002337A1E\n:00000001FF\n' >moved.hex
same moved.hex moved.hex && rm moved.hex
printf 'S1050030023395\nS5030001FB\nS9030000ff\n' >work/ends.s19
run 0 1 "$@" -i ends.s19
said '^tallyfix: ends.s19: 1 checksum fixed, in a termination record$'
printf 'S1050030023395\nS5030001FB\nS9030000fc\n' >ends.s19 # in the record's case
same ends.s19 ends.s19 && rm ends.s19
# S-records: each letter keeps its case; a line that needs a hand keeps
# the file as it is.
printf 'S1130040285f245f2212226a000424290008237c00\r\nS9030000FC\r\n' >work/lower.s19
run 0 1 "$@" -i lower.s19
printf 'S1130040285f245f2212226a000424290008237cea\r\nS9030000FC\r\n' >lower.s19
same lower.s19 lower.s19 && rm lower.s19
cp "$data/flaws.s19" work/flaws.s19
run 1 12 "$@" -i flaws.s19
same flaws.s19 "$data/flaws.s19"

fresh
# fixed (1 line), clean, flaws (17 and 1), UTF-16 (1), a hard link (1),
# fixed with lines left as they are (records after the end and 4 overlaps,
# and 1).
run 2 27 "$@" -i fixed.hex clean.hex flaws.hex utf16.hex linked.hex fixable.hex
same fixed.hex "$data/sample.out"
check "time stamp" test "$(stat -c %Y work/clean.hex)" = 1000000000
same flaws.hex "$data/flaws.hex"
same utf16.hex "$data/utf16le.hex"
same linked.hex "$examples/sample.hex"
same fixable.hex "$data/fixable.fixed"

fresh
chmod 444 work/fixed.hex && ln -s fixed.hex work/link.hex
if [ "$system" = windows ]; then # the system keeps both
	run 1 1 "$@" -i link.hex
	said 'symbolic link'
	run 2 1 "$@" -i fixed.hex
	said 'read-only'
	same fixed.hex "$examples/sample.hex"
	yes :0300300002337AFF | head -n 3000000 >work/big.hex # killed while writing
	(cd work && exec "$@" -i big.hex >../out 2>../err) &
	for i in $(seq 1000); do ls -a work | grep -q tallyfix- && kill -9 $! && break; sleep 0.01; done
	wait
	sleep 2 # for Wine to remove it
	what=killed judge 0 0 0
	exit $fail
fi
run 2 1 "$@" -i fixed.hex # no write bit for its owner, root's file too
said '^tallyfix: fixed.hex: it is read-only: left as it is (chmod u+w to let tallyfix fix it)$'
same fixed.hex "$examples/sample.hex"
chmod 640 work/fixed.hex
owner=$(chown 65534:65534 work/fixed.hex 2>/dev/null && echo 65534:65534 || stat -c %u:%g work/fixed.hex)
run 0 1 sh -c 'umask 077 && exec "$@"' sh "$@" --in-place link.hex
check "link" test -L work/link.hex
same fixed.hex "$data/sample.out"
check "mode" test "$(stat -c %a work/fixed.hex)" = 640
check "owner" test "$(stat -c %u:%g work/fixed.hex)" = "$owner"
mkfifo work/fifo.hex
run 2 1 timeout 10 "$@" -i fifo.hex # not waited on
said 'not a regular file'
printf ':0300300002337AFF\n' >work/fifo.hex & # but checked
check "--check a FIFO" sh -c 'timeout 10 "$@" --check work/fifo.hex >/dev/null 2>&1; [ $? = 1 ]' sh "$@"
long=$(printf '%0251d.hex' 0) # the longest name a file may have, and Japanese
cp "$examples/sample.hex" "work/$long" && cp "$examples/sample.hex" "work/$(printf '日%.0s' $(seq 83)).hex"
run 0 2 "$@" -i "$long" "$(printf '日%.0s' $(seq 83)).hex"
same "$long" "$data/sample.out"

command -v strace >/dev/null || { echo "strace missing: no failures injected"; exit $fail; }
export ASAN_OPTIONS="${ASAN_OPTIONS-}:detect_leaks=0" # LeakSanitizer cannot run under strace
tool=$1
traced() { # traced INJECTION... -- ARG...: the tool under strace, injecting
	injections= trace=
	while [ "$1" != -- ]; do
		injections="$injections -e inject=$1" trace=$trace,${1%%:*}
		shift
	done
	shift
	exec strace -o "${log-/dev/null}" -e trace="${trace#,}" $injections "$tool" "$@"
}
inject() { # inject INJECTION STATUS LINES [WHAT_IS_SAID]: on fixed.hex
	fresh
	run "$2" "$3" traced "$1" -- -i fixed.hex
	[ -z "${4-}" ] || said "$4"
}
nth() { # nth SYSCALL PATTERN [FILE]: which call of SYSCALL matches
	(cd work && strace -o ../trace -e trace="$1" "$tool" -i "${3-fixed.hex}" 2>/dev/null)
	grep -n "$2" trace | cut -d: -f1
}
# Which openat makes a new file without a name: refused, the new file has a
# name from the start, as where the system or filesystem has no such file.
fresh
unnamed=$(nth openat O_TMPFILE)
check "a new file without a name" test -n "$unnamed"
named=openat:error=EOPNOTSUPP:when=$unnamed
check "none for a hard link" test -z "$(nth openat O_TMPFILE linked.hex)"
fresh
held=$(nth openat 'O_RDONLY|O_CLOEXEC|O_DIRECTORY') # the folder, to be flushed after its last file

for injection in write:error=ENOSPC:when=1 copy_file_range:error=ENOSPC; do
	inject $injection 2 1 'the fixed copy could not be written: No space left on device'
	same fixed.hex "$examples/sample.hex"
done
inject fsync:error=EIO:when=1 2 1 'could not be flushed to disk: Input/output error'
inject fchmod:error=EPERM 2 1 'could not be given its permissions'
inject linkat:error=ENOSPC 2 1 'could not replace it: No space left on device'
inject renameat2:error=EXDEV 2 1 'could not replace it: Invalid cross-device link'
same fixed.hex "$examples/sample.hex"
inject openat:error=EACCES:when=$unnamed+ 2 1 'its folder /.* cannot be written: Permission denied'
inject openat:error=ENOSPC:when=$unnamed+ 2 1 'no new file could be made beside it: No space left'
fresh # past the output stream's buffer, a write of the loop's own
for i in $(seq 0 999); do printf ':10%04X0000000000000000000000000000000000FF\n' $((i * 16)); done >work/fixed.hex
echo :00000001FF >>work/fixed.hex
run 2 1 traced write:error=ENOSPC:when=1 -- -i fixed.hex
said 'the fixed copy could not be written: No space left on device'
# The folder's flush, once the file is replaced: fixed, and said; some
# filesystems have none.
inject fsync:error=EIO:when=2 2 2 'replaced, but its folder could not be flushed'
same fixed.hex "$data/sample.out"
inject fsync:error=EINVAL:when=2 0 1
fresh # out of descriptors to hold the folder: its filesystem flushed at once
run 2 2 traced openat:error=EMFILE:when=$held syncfs:error=EIO -- -i fixed.hex
said 'replaced, but its folder could not be flushed'
# The ways round what a filesystem cannot do still fix the file.
for injection in copy_file_range:error=ENOSYS renameat2:error=EINVAL $named; do
	inject $injection 0 1
	same fixed.hex "$data/sample.out"
done
# Interrupts, also while the new file has a name, which they remove; once
# the new file is taking the file's place that finishes first.
for interrupt in fsync:signal=SIGINT:130 fsync:signal=SIGQUIT:131 fsync:signal=SIGPIPE:141 \
	renameat2:signal=SIGINT:130; do
	for also in "" $named; do
		fresh
		run "${interrupt##*:}" 0 traced "${interrupt%:*}" $also -- -i fixed.hex
	done
	[ "${interrupt%%:*}" = fsync ] && same fixed.hex "$examples/sample.hex"
done
same fixed.hex "$data/sample.out"
# One ignored when the tool starts stays ignored; one blocked stays blocked.
fresh
run 0 1 sh -c 'trap "" HUP && exec strace -o /dev/null -e trace=fsync \
	-e inject=fsync:signal=SIGHUP "$@"' sh "$tool" -i fixed.hex
if command -v python3 >/dev/null; then
	fresh
	run 0 1 python3 -c 'import os, signal, sys
signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT]); os.execvp(sys.argv[1], sys.argv[1:])' \
		strace -o /dev/null -e trace=fsync -e inject=fsync:signal=SIGINT "$tool" -i fixed.hex
	same fixed.hex "$data/sample.out"
fi
# Past the file size limit: a write that fails, not a signal.
fresh
(cd work && { sh -c 'ulimit -f 0 && exec "$@"' sh "$tool" -i fixed.hex 2>&1 >../out
	echo $? >../status; } | cat >../err)
what="ulimit -f" judge 2 1 "$(cat status)"
said 'could not be written: File too large'

stopped() { # stopped INJECTION... -- ARG...: the tool stopped as the first
	what=$* at=$1 # returns from its system call; strace says when it is
	shift
	: >stops
	(cd work && log=../stops traced "$at:signal=SIGSTOP" "$@" >../out 2>../err) &
	tracer=$!
	for i in $(seq 2400); do # however busy the machine is
		grep -q 'stopped by SIGSTOP' stops && pid=$(pgrep -P $tracer) && return
		sleep 0.05
	done
	echo "never stopped: $*"
	fail=1
}
resume() { # resume STATUS STDERR_LINES
	kill -CONT $pid
	wait $tracer
	judge "$1" "$2" $?
}
other() { cp "$data/fixable.hex" work/other && mv work/other work/fixed.hex; }
appended() { cat "$examples/sample.hex" "$data/flaws.hex" >expected && same fixed.hex expected; }
fresh # another program writes, edits in place, changes the permissions
stopped fsync:when=1 -- -i fixed.hex
cat "$data/flaws.hex" >>work/fixed.hex && resume 2 1
said 'left as another program left it'
appended
fresh
stopped fsync:when=1 -- -i fixed.hex
printf 1 | dd of=work/fixed.hex bs=1 seek=2 conv=notrunc 2>/dev/null && resume 2 1
sed '1s/^:02/:01/' "$examples/sample.hex" >expected && same fixed.hex expected
fresh
stopped fsync:when=1 -- -i fixed.hex
chmod 600 work/fixed.hex && resume 2 1
check "chmod kept" test "$(stat -c %a work/fixed.hex)" = 600
fresh # or saves another file as its own, or writes the file, while it is swapped
stopped linkat -- -i fixed.hex
other && resume 2 1
same fixed.hex "$data/fixable.hex"
fresh
stopped linkat -- -i fixed.hex
cat "$data/flaws.hex" >>work/fixed.hex && resume 2 1
appended
fresh # where names cannot be swapped, the name is checked
stopped linkat renameat2:error=EINVAL -- -i fixed.hex
other && resume 2 1
same fixed.hex "$data/fixable.hex"
fresh # two runs at once
stopped linkat -- -i fixed.hex
(cd work && "$tool" -i fixed.hex 2>/dev/null) && resume 2 1
same fixed.hex "$data/sample.out"
fresh # killed: the new file has no name
stopped fsync:when=1 -- -i fixed.hex
kill -9 $pid && wait
what=killed judge 0 0 0
same fixed.hex "$examples/sample.hex"
fresh # killed once it is named, until the old file is removed: the name is left
stopped linkat -- -i fixed.hex
kill -9 $pid && wait
same fixed.hex "$examples/sample.hex"
check "killed once named: the fixed copy left" cmp work/.fixed.hex.tallyfix-?????? "$data/sample.out"
rm -f work/.fixed.hex.tallyfix-*
# After the last look, just before the exchange of names: a write that keeps
# the size and the times, as cp -p does, seen by the watch; a chmod and a new
# link, also without it, by the look at what the exchange took out.
just_before() { # just_before CALL [INJECTION]: the system call the tool makes
	fresh # just before its first CALL, as NAME:when=N
	# shellcheck disable=SC2086 # an injection, or none
	(cd work && strace -o ../trace ${2+-e inject=$2} "$tool" -i fixed.hex 2>/dev/null)
	awk -v call="$1(" 'index($0, call) == 1 { print name ":when=" count[name]; exit }
		{ name = substr($0, 1, index($0, "(") - 1); count[name]++ }' trace
}
last_look=$(just_before renameat2)
blind=inotify_init1:error=EMFILE
blind_look=$(just_before renameat2 $blind)
sed 's/7A/7B/' "$examples/sample.hex" >same-size.hex
# A look that fails is said as what it is, not as another program's change.
inject "${blind_look%%:*}:error=EIO:${blind_look#*:}" 2 1 'could not replace it: Input/output error'
same fixed.hex "$examples/sample.hex"
for act in "cp -p same-size.hex work/fixed.hex" "chmod 600 work/fixed.hex" \
	"ln work/fixed.hex work/third.hex" "blind chmod 600 work/fixed.hex" \
	"blind ln work/fixed.hex work/third.hex"; do
	fresh
	touch -r work/fixed.hex same-size.hex
	case $act in
	blind*) stopped "$blind_look" $blind -- -i fixed.hex && act=${act#blind } ;;
	*) stopped "$last_look" -- -i fixed.hex ;;
	esac
	$act && resume 2 1
	said 'left as another program left it'
	case $act in
	cp*) same fixed.hex same-size.hex ;;
	chmod*) same fixed.hex "$examples/sample.hex" && check "$act kept" test "$(stat -c %a work/fixed.hex)" = 600 ;;
	ln*) same fixed.hex "$examples/sample.hex" && check "$act kept" test work/fixed.hex -ef work/third.hex ;;
	esac
done
fresh # the old file replaced, and its name left where it cannot be removed
(cd work && strace -o /dev/null -e trace=unlinkat -e inject=unlinkat:error=EIO:when=1 \
	"$tool" -i fixed.hex >../out 2>../err)
check "a name left behind: status 2" test $? = 2
grep -q 'replaced, but the old file could not be removed and is left as /.*/work/\.fixed\.hex\.tallyfix-.*: Input/output error' err ||
	{ echo "a name left behind: not said"; cat err; fail=1; }
same fixed.hex "$data/sample.out"
rm -f work/.fixed.hex.tallyfix-*
fresh # a device is looked at, not opened: a serial port's board would reset
(cd work && strace -o ../trace -e trace=openat "$tool" -i /dev/null 2>/dev/null)
check "a device not opened" sh -c '! grep -q "\"null\", O_RDONLY" trace'
fresh # --check reads a file again for what overlaps: here it was cut meanwhile,
printf ':0100000055AA\n:0100000056A9\n:00000001FF\n' >work/twice.hex # after line 1
stopped lseek:when=1 -- --check twice.hex
printf ':0100000055AA\n' >work/twice.hex && kill -CONT $pid && wait $tracer
check "--check: changed between its readings" grep -q 'the file changed between' out
fresh # the folder renamed
stopped fsync:when=1 -- -i fixed.hex
mv work work2 && mkdir work && resume 0 1
check "folder renamed" cmp work2/fixed.hex "$data/sample.out"
fresh # files in two folders: each folder flushed once, after its last file
mkdir work/sub && cp work/fixed.hex work/fixed2.hex && cp work/fixed.hex work/sub
(cd work && strace -o ../trace -e trace=fsync "$tool" -i fixed.hex fixed2.hex sub/fixed.hex 2>/dev/null)
check "flushes" test "$(grep -c '^fsync' trace)" = 5
fresh # and said of the files of each when it fails
mkdir work/sub && cp work/fixed.hex work/sub
run 2 4 traced fsync:error=EIO:when=3+ -- -i fixed.hex sub/fixed.hex

# Access lists and extended attributes are the file's, not its folder's.
if command -v setfacl >/dev/null && setfacl -m u:65534:r work/fixed.hex 2>/dev/null; then
	fresh
	chmod 640 work/fixed.hex && setfacl -m u:65534:rw work/fixed.hex
	python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.board", b"rev B")' work/fixed.hex
	getfacl -p work/fixed.hex >acl
	run 0 1 "$@" -i fixed.hex
	same fixed.hex "$data/sample.out"
	check "the access list kept" sh -c 'getfacl -p work/fixed.hex | cmp -s - acl'
	check "a user. attribute kept" python3 -c 'import os, sys
assert os.getxattr(sys.argv[1], "user.board") == b"rev B"' work/fixed.hex
	mkdir work/shared && setfacl -d -m u:65534:rwx work/shared
	cp "$examples/sample.hex" work/shared/fixed.hex && setfacl -b work/shared/fixed.hex
	run 0 1 "$@" -i shared/fixed.hex
	check "none from the folder" test "$(getfacl -cs work/shared/fixed.hex)" = ""
	fresh
	setfacl -m u:65534:rw work/fixed.hex && getfacl -p work/fixed.hex >acl
	run 2 1 traced fsetxattr:error=ENOSPC -- -i fixed.hex
	said 'could not be given its access list and extended attributes: No space left on device'
	same fixed.hex "$examples/sample.hex"
	check "the access list as it was" sh -c 'getfacl -p work/fixed.hex | cmp -s - acl'
else
	echo "no setfacl, or no access lists here: not tried"
fi

# A folder deeper than a path may be long; a file of holes keeps them.
fresh
deep=$(printf 'd%.0s' $(seq 200)) # made a folder at a time, as the shell cannot
(cd work && python3 -c 'import os, shutil, sys
for i in range(25):
    os.mkdir(sys.argv[1])
    os.chdir(sys.argv[1])
shutil.copy(sys.argv[2], "fixed.hex")' "$deep" "$examples/sample.hex")
path=$(for i in $(seq 25); do printf '%s/' "$deep"; done)fixed.hex
run 0 1 "$@" -i "$path"
run 0 1 "$@" --check "$path"
if truncate -s 64M work/holes.hex 2>/dev/null; then
	cp work/holes.hex holes.hex
	for file in work/holes.hex holes.hex; do
		dd if="$examples/sample.hex" of=$file conv=notrunc 2>/dev/null
		dd if="$examples/sample.hex" of=$file bs=1M seek=40 conv=notrunc 2>/dev/null
	done
	dd if="$data/sample.out" of=holes.hex conv=notrunc 2>/dev/null
	dd if="$data/sample.out" of=holes.hex bs=1M seek=40 conv=notrunc 2>/dev/null
	run 1 4 "$@" -i holes.hex # a line of holes is no record
	same holes.hex holes.hex
	check "the holes kept" test "$(du -k work/holes.hex | cut -f1)" -lt 8192
fi

# As a user other than root: a folder it may not write, a file of another
# user's in its own folder, whose owner changes and is said.
[ "$(id -u)" = 0 ] && command -v setpriv >/dev/null || { echo "not root: no other user"; exit $fail; }
fresh
mkdir work/theirs work/mine && cp work/fixed.hex work/theirs && cp work/fixed.hex work/mine
chown 65534 work/theirs/fixed.hex work/mine && chmod 664 work/mine/fixed.hex
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
run 2 1 as_nobody "$tool" -i theirs/fixed.hex
said "left as it is: its folder /.*/work/theirs cannot be written: Permission denied"
run 0 2 as_nobody "$tool" -i mine/fixed.hex
said 'its owner root and group root could not be kept, now nobody and nogroup, whose permissions are no more than others had$'
check "the group's permissions cut to others'" test "$(stat -c %a work/mine/fixed.hex)" = 644
fresh # a folder it may write and enter but not list, as cp and mv may
mkdir work/unlisted && cp "$examples/sample.hex" work/unlisted/fixed.hex
chown -R 65534:65534 work/unlisted && chmod 311 work/unlisted
run 0 1 as_nobody "$tool" -i unlisted/fixed.hex
chmod 755 work/unlisted && same unlisted/fixed.hex "$data/sample.out"
exit $fail
