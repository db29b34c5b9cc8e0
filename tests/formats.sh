#!/bin/sh
# usage: formats.sh DATA TOOL...
# What tools read of --check: names that cannot break a finding's line or
# its format, JSON and SARIF that parse (SARIF validated where
# sarif-multitool is), colour and the record under its finding on a
# terminal only, and each file's findings before the next file's lines.
data=$1
shift
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
check() { # check WHAT COMMAND...
	what=$1
	shift
	"$@" || { echo "failed: $what"; fail=1; }
}
expect() { # expect WHAT FILE TEXT: FILE holds exactly TEXT
	printf '%s\n' "$3" | cmp -s - "$2" || { echo "$1:"; cat "$2"; fail=1; }
}

printf ':00000001FE\n' >"$(printf 'a\nb\033[31m\tc\177.hex')"
"$@" --check a* >out 2>/dev/null
expect "a control character in a name" out \
	'a\nb\x1b[31m\tc\x7f.hex:1:10: error: checksum FE, should be FF (a type 01 record: only --in-place rewrites it)'
printf ':00000001FE\n' >"$(printf 'caf\351 %%,:.hex')"
printf ':00000001FE\n' >"$(printf 'cr\r\033.hex')"
"$@" --check --format=github caf* cr* >out 2>/dev/null
expect "GitHub's escapes" out \
	"$(printf '::error file=caf\351 %%25%%2C%%3A.hex,line=1,col=10::checksum FE, should be FF (a type 01 record: only --in-place rewrites it)
::error file=cr%%0D\\x1b.hex,line=1,col=10::checksum FE, should be FF (a type 01 record: only --in-place rewrites it)')"
cp "$data/structure.hex" "$data/flaws.hex" .
printf ':00000001FE\n' >"$(printf '\302\242.hex')"
"$@" --check --format=json caf* structure.hex flaws.hex "$PWD/structure.hex" ¢.hex >out
check "JSON lines, a name not UTF-8 among them" python3 -c '
import json, sys
lines = [json.loads(line) for line in open("out", encoding="utf-8")]
assert lines[0]["file"] == "caf\ufffd %,:.hex", lines[0]
assert lines[-1]["file"] == "\u00a2.hex", lines[-1]
assert {"file", "line", "column", "severity", "rule", "message"} == set(lines[0])
assert len(lines) == 1 + 2 * 12 + 17 + 1, len(lines)'
check "UTF-8 kept, and each byte of what is not UTF-8 replaced" python3 - "$@" <<'EOF'
import json, os, subprocess, sys
names = {b"\xc2\x80": "\x80", b"\xc1\xbf": "\ufffd" * 2, b"\xe0\xa0\x80": "\u0800",
         b"\xe0\x9f\xbf": "\ufffd" * 3, b"\xed\x9f\xbf": "\ud7ff", b"\xed\xa0\x80": "\ufffd" * 3,
         b"\xf0\x90\x80\x80": "\U00010000", b"\xf0\x8f\xbf\xbf": "\ufffd" * 4,
         b"\xf4\x8f\xbf\xbf": "\U0010ffff", b"\xf4\x90\x80\x80": "\ufffd" * 4,
         b"\xf5\x80\x80\x80": "\ufffd" * 4, b"\xe2\x82": "\ufffd" * 2,
         b"\xc2\xc0": "\ufffd" * 2, b"\xe0\xa0\xc0": "\ufffd" * 3, b"q\"b\\": "q\"b\\"}
os.mkdir(b"names")
for name in names:
    with open(b"names/" + name, "w") as f:
        f.write(":00000001FE\n")
for name, shown in names.items():
    out = subprocess.run(sys.argv[1:] + ["--check", "--format=json", b"names/" + name],
                         capture_output=True).stdout
    assert json.loads(out)["file"] == "names/" + shown, (name, out)
EOF
cp flaws.hex C: && cp flaws.hex file.hex && cp flaws.hex a:b.hex
"$@" --check --format=sarif caf* structure.hex flaws.hex "$PWD/structure.hex" C: file.hex \
	a:b.hex missing.hex ./flaws.hex >out.sarif 2>/dev/null
check "SARIF's places, rules and invocation" python3 -c '
import json, os
run = json.load(open("out.sarif", encoding="utf-8"))["runs"][0]
uris = [r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"] for r in run["results"]]
assert uris[0] == "caf%E9%20%25%2C%3A.hex", uris[0]
assert "file://" + os.getcwd() + "/structure.hex" in uris
assert "C%3A" in uris and "file.hex" in uris and "a%3Ab.hex" in uris, uris
assert uris[-1] == "flaws.hex"
for r in run["results"]:
    place = r["locations"][0]["physicalLocation"]["artifactLocation"]
    assert ("uriBaseId" in place) != place["uri"].startswith("file://"), place
assert run["originalUriBaseIds"]["%SRCROOT%"]["uri"] == "file://" + os.getcwd() + "/"
rules = run["tool"]["driver"]["rules"]
assert all(rules[r["ruleIndex"]]["id"] == r["ruleId"] for r in run["results"])
assert all(r["fullDescription"]["text"] and r["help"]["text"] for r in rules)
invocation, = run["invocations"]
assert invocation["executionSuccessful"] is False
note, = invocation["toolExecutionNotifications"]
assert note["message"]["text"] == "missing.hex could not be read: No such file or directory", note
assert note["locations"][0]["physicalLocation"]["artifactLocation"]["uri"] == "missing.hex"'
"$@" --check --format=sarif file.hex >clean.sarif
check "SARIF of a run that read every file" python3 -c '
import json
assert json.load(open("clean.sarif"))["runs"][0]["invocations"][0]["executionSuccessful"]'
multitool=$(command -v sarif-multitool || true)
if [ -n "$multitool" ]; then
	for sarif in out clean; do
		"$multitool" validate $sarif.sarif -o $sarif.validation.sarif >validation.log 2>&1
		check "sarif-multitool validate" grep -q 'Analysis completed successfully' validation.log
		grep -E ': (error|warning|note) ' validation.log && fail=1
	done
else
	echo "sarif-multitool missing: SARIF not validated"
fi

# The problem matcher shipped for GitHub reads each line of the gcc format,
# a name with colons in it too.
cp flaws.hex "a:1:2.hex"
"$@" --check structure.hex a:1:2.hex >gcc.out 2>/dev/null
check "the problem matcher" python3 - "$data/../../.github/tallyfix-matcher.json" <<'EOF'
import json, re, sys
pattern, = json.load(open(sys.argv[1]))["problemMatcher"][0]["pattern"]
lines = open("gcc.out").read().splitlines()
assert len(lines) == 12 + 17, len(lines)
for line in lines:
    m = re.match(pattern["regexp"], line)
    assert m, line
    assert m.group(pattern["file"]) in ("structure.hex", "a:1:2.hex"), line
    assert m.group(pattern["severity"]) in ("error", "warning")
    assert int(m.group(pattern["line"])) > 0 and int(m.group(pattern["column"])) > 0
EOF
# GitLab's Code Quality report: a finding keeps its fingerprint when lines
# are added above it, and two alike get two.
printf ':0300300002337AFF\n:0300300002337AFF\n:00000001FF\n' >gitlab.hex
"$@" --check --format=gitlab gitlab.hex >before.json
printf ';\n' | cat - gitlab.hex >moved.hex && mv moved.hex gitlab.hex
"$@" --check --format=gitlab ./gitlab.hex missing.hex >after.json 2>/dev/null
check "GitLab's report" python3 -c '
import json
before, after = json.load(open("before.json")), json.load(open("after.json"))
assert [i["fingerprint"] for i in before] == [i["fingerprint"] for i in after], (before, after)
assert len({i["fingerprint"] for i in before}) == len(before) == 3
assert [i["location"]["lines"]["begin"] for i in after] == [2, 3, 3]
assert [(i["check_name"], i["severity"]) for i in after] == [("checksum-wrong", "major")] * 2 + [
    ("overlap", "minor")]
assert all(i["location"]["path"] == "gitlab.hex" and i["description"] for i in after)'
# JUnit XML: a test case a file, a failure for its errors, warnings as its
# output unless strict, an error for a file that could not be read.
cp "$data/warnings.hex" .
for strict in "" --strict; do
	"$@" --check --format=junit $strict gitlab.hex warnings.hex missing.hex >junit$strict.xml 2>/dev/null
done
check "JUnit XML" python3 -c '
import xml.etree.ElementTree as tree
suite = tree.parse("junit.xml").getroot().find("testsuite")
cases = {c.get("name"): c for c in suite.findall("testcase")}
assert list(cases) == ["gitlab.hex", "warnings.hex", "missing.hex"], list(cases)
assert suite.get("tests") == "3" and suite.get("failures") == "1" and suite.get("errors") == "1"
failure = cases["gitlab.hex"].find("failure")
assert failure.get("message") == "2 errors" and failure.text.startswith("2:16: error: checksum FF")
assert cases["warnings.hex"].find("failure") is None
assert cases["warnings.hex"].find("system-out").text.count("warning:") == 4
assert cases["missing.hex"].find("error").get("message") == "No such file or directory"
strict = tree.parse("junit--strict.xml").getroot().find("testsuite")
assert strict.get("failures") == "2", strict.attrib
messages = [f.get("message") for f in strict.iter("failure")]
assert messages == ["2 errors and 1 warning", "4 warnings"], messages'
printf ':00000001FE\n' >"$(printf 'ff\357\277\276.hex')"
"$@" --check --format=junit ff* >junit-ff.xml 2>/dev/null
check "JUnit XML of a name XML has no place for" python3 -c '
import xml.etree.ElementTree as tree
assert tree.parse("junit-ff.xml").getroot().find("testsuite/testcase").get("name") == "ff\ufffd.hex"'
# A file that is no text: one finding, and the status of one that cannot be read.
python3 -c 'import random, sys; random.seed(7); sys.stdout.buffer.write(bytes(random.randrange(256) for _ in range(20000)))' >random.bin
"$@" --check random.bin >out 2>/dev/null
check "binary data, status 2" test $? = 2
expect "binary data, one finding" out 'random.bin:1:1: error: binary data: not an Intel HEX or S-record file'
cp random.bin kept.bin && "$@" -i kept.bin 2>/dev/null
check "binary data left as it is, status 2" test $? = 2
check "binary data left as it is" cmp kept.bin random.bin

# Standard output a terminal: the record under each finding and the tally,
# coloured unless NO_COLOR or TERM=dumb says not.
on_terminal() { # on_terminal FILE COMMAND...: COMMAND's output, a terminal's, in FILE
	out=$1
	shift
	script -qec "$*" /dev/null | tr -d '\r' >"$out"
}
on_terminal tty "$* --check flaws.hex structure.hex"
check "colour on a terminal" grep -q "$(printf '\033\\[1;31merror:')" tty
check "the record shown" grep -qx '    1 | :0300300002337G1E' tty
check "DEL shown as ?" grep -qx '   16 | :0300300002337?1E' tty
check "a caret under the bad digit" grep -q '^      |               .*\^' tty
check "the tally" grep -qx '21 errors and 8 warnings in 2 of 2 files' tty
printf ':0300300002337AFF\n:00000001FF\n:0000000AF6\n' >even.hex
on_terminal tty "$* --check even.hex"
check "the tally's singulars" grep -qx '1 error and 1 warning in 1 file' tty
check "a caret under both digits of a checksum" grep -q '^      |                [^ ]*\^~' tty
on_terminal tty "$* --check even.hex missing.hex ."
check "files that could not be read, apart" grep -qx '1 error and 1 warning in 1 of 3 files; 2 could not be read' tty
printf ':FF000000%0510dGG\n' 0 >wide.hex
on_terminal tty "stty cols 50; $* --check --color=never wide.hex"
check "a record cut to the terminal's width" sh -c 'grep -qx "    1 | \.\.\.0\{37\}GG" tty &&
	grep -qx " *| \{41\}\^" tty'
on_terminal tty env NO_COLOR=1 "$* --check flaws.hex"
check "NO_COLOR" sh -c '! grep -q "$(printf "\033")" tty && grep -q "^    1 | " tty'
on_terminal tty env TERM=dumb "$* --check --color=auto flaws.hex"
check "TERM=dumb" sh -c '! grep -q "$(printf "\033")" tty'
"$@" --check --color=always flaws.hex >out 2>/dev/null
check "--color=always" grep -q "$(printf '\033')" out
"$@" --check flaws.hex >out 2>/dev/null
check "no colour into a file" sh -c '! grep -q "$(printf "\033")" out && ! grep -q "^ *1 | " out'

# Each file's findings, then the next file's lines on standard error.
cp "$data/cut.hex" .
"$@" --check cut.hex missing.hex cut.hex >out 2>&1
expect "the order of the lines" out 'cut.hex:2:1: error: no end-of-file record (:00000001FF): the file may have been cut short
tallyfix: missing.hex: No such file or directory
cut.hex:2:1: error: no end-of-file record (:00000001FF): the file may have been cut short
2 errors in 2 of 3 files; 1 could not be read'
exit $fail
