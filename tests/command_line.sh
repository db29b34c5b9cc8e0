#!/bin/sh
# usage: command_line.sh DATA SYSTEM TOOL...
# How the command line is read: a mode wherever it stands, options anywhere
# among the files as --name=value or --name value, "--" and "-", help
# anywhere, and a usage error for what is wrong that says what would be right.
data=$1 system=$2
shift 2
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$data/warnings.hex" . && cp "$data/sample.out" ./--x.hex
printf ':0300300002337AFF\n:00000001FF\n' >one.hex
# expect STATUS STDOUT STDERR ARG...: STDOUT and STDERR each a line it must
# hold (a pattern for grep), or "" for nothing at all.
expect() {
	status=$1 out=$2 err=$3
	shift 3
	"$@" >out.raw 2>err.raw
	got=$?
	tr -d '\r' <out.raw >out && tr -d '\r' <err.raw >err # Windows' line ends
	for stream in out err; do
		eval "line=\$$stream"
		if [ -z "$line" ]; then
			[ ! -s $stream ] || { echo "$*: standard $stream:"; cat $stream; fail=1; }
		else
			grep -q -e "$line" $stream || { echo "$*: no '$line' in:"; cat $stream; fail=1; }
		fi
	done
	[ "$got" = "$status" ] || { echo "$*: status $got, expected $status"; fail=1; }
}
warning='^warnings.hex:8:4: warning: writes 0x10030 to 0x10032'
expect 0 "$warning" "^4 warnings in 1 file$" "$@" warnings.hex --check
expect 1 "$warning" "^4 warnings in 1 file$" "$@" --check warnings.hex --strict
expect 1 "$warning" "^4 warnings in 1 file$" "$@" warnings.hex --strict --check
expect 1 '"severity":"warning"' "" "$@" --check warnings.hex --format json --strict
expect 1 '"severity":"warning"' "" "$@" --check --format=json warnings.hex --strict
expect 0 "" "^no errors or warnings in 1 file$" "$@" --check -- --x.hex
expect 0 "" "^tallyfix: one.hex: 1 checksum fixed$" "$@" one.hex -i
# --set among the files, to standard output and in place.
expect 0 "^:0300300002AB7AA6$" "^tallyfix: one.hex: 1 byte set at 0x00000031 (line 1), 1 checksum rewritten$" \
	"$@" --set 0x31=AB one.hex
expect 0 "" "^tallyfix: one.hex: 1 byte set at 0x00000031 (line 1), 1 checksum rewritten$" \
	"$@" one.hex -i --set=0x31=u8:171
expect 0 "" "" grep -q "^:0300300002AB7AA6" one.hex
expect 0 "^  --check " "" "$@" --check --chek warnings.hex --help
expect 0 "^tallyfix version 1.1$" "" "$@" -i --version
expect 0 "^  --check " "" "$@" --help --in-place --check
expect 0 "^  --check " "" "$@" --in-place --check --help
expect 2 "" "^tallyfix: --help=x: --help takes no value$" "$@" --check --help=x warnings.hex
if [ "$system" != windows ]; then # Wine cannot tell which file a Unix shell's is
	cp warnings.hex appended.hex
	expect 2 "" "^tallyfix: appended.hex: it is also the output of --check: nothing was written" \
		sh -c 'exec "$@" >>appended.hex' sh "$@" --check --format=sarif warnings.hex appended.hex
	expect 0 "" "" cmp appended.hex warnings.hex
fi
expect 2 "" "^tallyfix: --format=xml: the formats are gcc, github, sarif, json, gitlab and junit$" \
	"$@" --check --format=xml warnings.hex
expect 2 "" "^tallyfix: --format needs a value: the formats are" "$@" --check warnings.hex --format
expect 2 "" "^tallyfix: --color=red: the choices are auto, always and never$" \
	"$@" --check --color red warnings.hex
expect 2 "" "^tallyfix: --strict=yes: --strict takes no value$" "$@" --check --strict=yes x.hex
expect 2 "" "^tallyfix: unknown option --chek (tallyfix --help lists them)$" \
	"$@" --check --chek warnings.hex
expect 2 "" "^tallyfix: unknown option --colour=never" "$@" --check --colour=never warnings.hex
expect 2 "" "^tallyfix: --check and --in-place cannot go together" "$@" -i x.hex --check
expect 2 "" "^tallyfix: --format=json: the format is --check's" "$@" -i --format=json x.hex
expect 2 "" "^tallyfix: --check: name at least one file$" "$@" --check --strict
expect 2 "" "^tallyfix: -: No such file or directory$" "$@" --check -
# The plain run keeps its rule: one argument, or the banner; a first
# argument that looks like an option is said to be none.
expect 2 "^This program recomputes" "^tallyfix: --chek: no option tallyfix knows" \
	"$@" --chek warnings.hex
expect 2 "^--strict failed to open$" "^tallyfix: --strict: an option of --check, --in-place and --set$" \
	"$@" --strict warnings.hex
expect 2 "^--help failed to open$" "^tallyfix: --help: asked for alone: tallyfix --help$" \
	"$@" --help warnings.hex
exit $fail
