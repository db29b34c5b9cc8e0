"""usage: set_bytes.py TOOL...

--set as users meet it. objcopy writes images in each format (Intel HEX with
segment and with linear address records, S19, S28, S37); the bytes set are
read back by objcopy, and must be the bytes asked for with every other byte
of the image as it was; in the text, only the digits of bytes whose value
changed and the checksums of their records may change, in the record's
case. To standard output and in place alike, as -i leaves a file. Then what
is refused, with nothing written and the file as it was."""
import os
import random
import re
import subprocess
import sys
import tempfile

tool = sys.argv[1:]
failures = []


def run(*args, stdin=None):
    done = subprocess.run(tool + list(args), stdin=stdin, capture_output=True)
    return done.returncode, done.stdout, done.stderr.decode()


def expect(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: got {got!r}, expected {wanted!r}")


def image_of(path, base, size):
    """The bytes objcopy reads from a file, from base on."""
    form = "srec" if path.endswith(("19", "28", "37")) else "ihex"
    subprocess.run(["objcopy", "-I", form, "-O", "binary", path, "back.bin"], check=True)
    with open("back.bin", "rb") as f:
        return f.read()


def data_digits(line):
    """The data digits of a data record, or None for any other line."""
    if line.startswith(":") and line[7:9] == "00":
        return 9, 9 + 2 * int(line[1:3], 16)
    if re.match(r"S[123]", line):
        start = 4 + 2 * (int(line[1]) + 1)
        return start, 4 + 2 * (int(line[2:4], 16) - 1)
    return None


def only_changed_digits(what, before, after):
    """Each line as it was but the digits of bytes that changed and the
    checksum after them; new digits in the record's case."""
    old_lines, new_lines = before.splitlines(True), after.splitlines(True)
    expect(what + ": lines", len(new_lines), len(old_lines))
    for n, (old, new) in enumerate(zip(old_lines, new_lines), 1):
        field = data_digits(old)
        if old == new:
            continue
        if field is None or len(old) != len(new):
            failures.append(f"{what}: line {n} changed: {old!r} to {new!r}")
            continue
        start, end = field
        lower = not re.search("[A-F]", old[1:end + 2]) and re.search("[a-f]", old)
        checksum = new[end:end + 2]
        kept = old[:start] == new[:start] and old[end + 2:] == new[end + 2:]
        case = checksum == (checksum.lower() if lower else checksum.upper())
        for c in range(start, end, 2):
            a, b = old[c:c + 2], new[c:c + 2]
            kept = kept and (a == b or int(a, 16) != int(b, 16))
            case = case and (a == b or b == (b.lower() if lower else b.upper()))
        if not kept or not case:
            failures.append(f"{what}: line {n}: {old!r} became {new!r}")


random.seed(7)
os.chdir(tempfile.mkdtemp())
data = bytes(random.randrange(256) for _ in range(4096))
calibration = bytes(random.randrange(256) for _ in range(64))
with open("data.bin", "wb") as f:
    f.write(data)
with open("cal.bin", "wb") as f:
    f.write(calibration)

# Where a base of ...F800 is, the 64 KiB boundary is 0x800 in.
made = [
    ("segments.hex", 0xF800, ["-O", "ihex"]),
    ("linear.hex", 0x0800F800, ["-O", "ihex"]),
    ("image.s19", 0x7000, ["-O", "srec", "--srec-len=16"]),
    ("image.s28", 0xF800, ["-O", "srec", "--srec-len=32"]),
    ("image.s37", 0x0800F800, ["-O", "srec", "--srec-forceS3"]),
]
for name, base, form in made:
    subprocess.run(["objcopy", "-I", "binary", *form, f"--change-addresses={base}",
                    "data.bin", name], check=True)
    with open(name) as f:
        text = f.read()
    variants = [(name, text)]
    if name == "linear.hex":
        variants.append(("lower.hex", text.lower()))
    for file, content in variants:
        with open(file, "w", newline="") as f:
            f.write(content)
        sets = [  # offset from base, value, bytes
            (0x0E, "DEADBEEF", bytes.fromhex("DEADBEEF")),  # across two records
            (0x7FE, "u32le:0x12345678", bytes.fromhex("78563412")),  # and 64 KiB
            (0x100, "text:SN-0001", b"SN-0001"),
            (0x200, "file:cal.bin", calibration),
            (0x300, "0011", b"\x00\x11"),
            (0x301, "u8:0xff", b"\xff"),  # the later wins
            (0x400, "i16be:-2", b"\xff\xfe"),
            (len(data) - 1, "u8:90", b"\x5a"),
            (0x500, data[0x500:0x504].hex(), data[0x500:0x504]),  # already so
        ]
        expected = bytearray(data)
        options = []
        for offset, value, value_bytes in sets:
            expected[offset:offset + len(value_bytes)] = value_bytes
            options += ["--set", f"{base + offset:#x}={value}"]
        status, out, err = run(*options, file)
        expect(file + ": status", (status, out != b""), (0, True))
        with open("out." + file, "wb") as f:
            f.write(out)
        expect(file + ": the image", image_of("out." + file, base, len(data)), bytes(expected))
        only_changed_digits(file, content, out.decode())
        expect(file + ": said", re.sub(r"\(lines? [0-9 to]+\)", "()", err),
               f"tallyfix: {file}: 4 bytes set at {base + 0xE:#010X} (), 7 at "
               f"{base + 0x100:#010X} (), 64 at {base + 0x200:#010X} () and 5 more ranges,"
               f" {12 if file != 'image.s28' else 9} checksums rewritten\n".replace("0X", "0x"))
        status, _, _ = run("-i", file, *options)
        with open(file, "rb") as f:
            expect(file + ": in place as to standard output", (status, f.read()), (0, out))

# A byte written by two records is set in both, so that loaders agree.
with open("twice.hex", "w") as f:
    f.write(":040000001122334452\n:030002003344552F\n:00000001FF\n")
status, out, err = run("--set", "0x3=AA", "twice.hex")
expect("twice", (status, out.decode()),
       (0, ":04000000112233AAEC\n:0300020033AA55C9\n:00000001FF\n"))
expect("twice: said", err.splitlines()[-2:],
       ["tallyfix: twice.hex: warning: 0x00000003 is held by lines 1 and 2: set in both",
        "tallyfix: twice.hex: 1 byte set at 0x00000003 (lines 1 to 2), 2 checksums rewritten"])

# Refused: nothing written, the file as it was. A record over a 64 KiB
# boundary, records after the end, and a line that needs a hand.
with open("refused.hex", "w") as f:
    f.write(":020000040001F9\n:10FFF800000102030405060708090A0B0C0D0E0F79\n"
            ":020000040003F7\n:0400100000010203E6\n:00000001FF\n:0100200055 8A\n"
            .replace(" ", ""))
with open("doubtful.hex", "w") as f:  # a loader may or may not take 0800 as the base
    f.write(":0400000408000000F0\n:0300000000010 2FA\n:00000001FF\n".replace(" ", ""))
with open("big.bin", "wb") as f:
    f.truncate((16 << 20) + 1)
with open("by_hand.s19", "w") as f:
    f.write("S1060000000102F6\nS10600100G0102E6\nS9030000FC\n")
with open("fine.s19", "w") as f:
    f.write("S1060000000102F6\nS9030000FC\n")
refusals = [
    (1, ["--set", "0x30014=00", "refused.hex"],
     "0x00030014 is not in the file: its data ends at 0x00030013: nothing was written"),
    (1, ["--set", "0x1FFF7=00", "refused.hex"],
     "0x0001FFF7 is not in the file: its data starts at 0x0001FFF8"),
    (1, ["--set", "0x2000F=00", "refused.hex"],
     "0x0002000F is not in the file: the nearest of its data, below it, ends at 0x00020007"),
    (1, ["--set", "0x30000=00", "refused.hex"],
     "the nearest of its data, above it, starts at 0x00030010"),
    (1, ["--set", "0x20000=u16le:1", "-i", "refused.hex"],
     "0x00020000 is in line 2 past the 64 KiB boundary that record runs over, where "
     "loaders disagree on the addresses of its bytes: left as it is"),
    (1, ["--set", "0x20=00", "refused.hex"], "0x00000020 is not in the file: its data"),
    (1, ["--set", "0x1=00", "-i", "doubtful.hex"],
     "0x00000001 is in line 2, after the address record of line 1 whose count is wrong"),
    (2, ["--set", "0x0=file:big.bin", "fine.s19"], "holds more than the 16 MiB --set takes"),
    (1, ["--set", "0x0=01", "by_hand.s19"], "nothing was written: mend the lines above by hand"),
    (1, ["-i", "fine.s19", "--set", "0x0=01", "by_hand.s19"], "by_hand.s19: left as it is"),
    (2, ["--set", "0x0=01", "fine.s19", "by_hand.s19"], "--set writes one file"),
    (2, ["--set", "0x0=01", "--check", "fine.s19"], "--set changes files and --check"),
    (2, ["fine.s19", "--set"], "--set needs a value: ADDRESS=VALUE"),
    (2, ["--set", "0x0=123", "fine.s19"], "an odd number of hexadecimal digits"),
    (2, ["--set", "0x0=u8:256", "fine.s19"], "u8 takes 0 to 255"),
    (2, ["--set", "0x0=i16le:40000", "fine.s19"], "i16le takes -32768 to 32767"),
    (2, ["--set", "0x0=file:none.bin", "fine.s19"], "none.bin: "),
    (2, ["--set", "0x0=01", "--format=json", "fine.s19"], "the format is --check's"),
    (2, ["--set", "0x0=01", "missing.hex"], "missing.hex: "),
    (2, ["--set", "0x0=01", "data.bin"], "nothing was written"),
]
for status, args, said in refusals:
    before = {n: open(n, "rb").read()
              for n in ("refused.hex", "by_hand.s19", "fine.s19", "doubtful.hex")}
    got, out, err = run(*args)
    expect(" ".join(args), (got, out, said in err), (status, b"", True))
    if said not in err:
        failures.append(err)
    for n, content in before.items():
        fixed = n == "fine.s19" and args[0] == "-i"  # the other file, fine
        expect(n + " kept", open(n, "rb").read(),
               b"S1060000010102F5\nS9030000FC\n" if fixed else content)
        with open(n, "wb") as f:
            f.write(content)
# Bytes already so: in place the file is not replaced.
os.utime("fine.s19", (1000000000, 1000000000))
got, out, err = run("-i", "--set", "0x0=u16be:1", "fine.s19")
expect("already so", (got, err, os.stat("fine.s19").st_mtime),
       (0, "tallyfix: fine.s19: 2 bytes set at 0x00000000 (line 1), no checksum rewritten: "
           "the file held them already: left as it is\n", 1000000000))
with open("fine.s19", "rb") as pipe:  # read twice, so not from a pipe
    got, out, err = run("--set", "0x0=01", "/dev/stdin", stdin=subprocess.Popen(
        ["cat"], stdin=pipe, stdout=subprocess.PIPE).stdout)
expect("a pipe", (got, out, "it cannot be read twice" in err), (2, b"", True))
with open("fine.s19", "rb") as f:  # a file as standard input is read twice
    expect("standard input", run("--set", "0x0=01", "/dev/stdin", stdin=f)[:2],
           (0, b"S1060000010102F5\nS9030000FC\n"))
with open("fine.s19", "ab") as f:
    got = subprocess.run(tool + ["--set", "0x0=01", "fine.s19"], stdout=f,
                         stderr=subprocess.PIPE).returncode
expect("appended to itself", (got, open("fine.s19", "rb").read()),
       (2, b"S1060000000102F6\nS9030000FC\n"))

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
