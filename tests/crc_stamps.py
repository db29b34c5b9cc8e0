"""usage: crc_stamps.py TOOL...

--crc as users meet it. Images are written as Intel HEX, S19 and S37 (by
objcopy, or by this script where they need gaps, overlaps or records out of
order); each value the tool stamps must be what an independent computation
gives over the bytes objcopy reads back (zlib.crc32 and binascii.crc_hqx, a
bitwise CRC of the catalogue's model for the rest), every other byte of the
image as it was. Then --check on stamped and edited images, and what is
refused."""
import binascii
import os
import random
import subprocess
import sys
import tempfile
import zlib

tool = sys.argv[1:]
failures = []


def run(*args, stdin=None):
    done = subprocess.run(tool + list(args), stdin=stdin, capture_output=True)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def expect(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: got {got!r:.300}, expected {wanted!r:.300}")


def bitwise_crc(data, width, poly, init, refin, refout, xorout):
    """The catalogue's model, a bit at a time."""
    mask, r = (1 << width) - 1, init
    for b in data:
        r ^= (int(f"{b:08b}"[::-1], 2) if refin else b) << (width - 8)
        for _ in range(8):
            r = (r << 1 ^ (poly if r >> (width - 1) & 1 else 0)) & mask
    return (int(f"{r:0{width}b}"[::-1], 2) if refout else r) ^ xorout


MODELS = {  # name: the bytes of its value, and the value of bytes, independently
    "crc-32": (4, zlib.crc32),
    "crc-16/xmodem": (2, lambda d: binascii.crc_hqx(d, 0)),
    "crc-16/ibm-3740": (2, lambda d: binascii.crc_hqx(d, 0xFFFF)),
    "crc-32/mpeg-2": (4, lambda d: bitwise_crc(d, 32, 0x04C11DB7, 0xFFFFFFFF, False, False, 0)),
    "crc-16/modbus": (2, lambda d: bitwise_crc(d, 16, 0x8005, 0xFFFF, True, True, 0)),
    "crc-8/maxim-dow": (1, lambda d: bitwise_crc(d, 8, 0x31, 0, True, True, 0)),
    "custom,width=12,poly=80F,init=0,refin=false,refout=true,xorout=0":
        (2, lambda d: bitwise_crc(d, 12, 0x80F, 0, False, True, 0)),
    "sum16,complement=twos": (2, lambda d: -sum(d) & 0xFFFF),
    "sum32,complement=ones": (4, lambda d: ~sum(d) & 0xFFFFFFFF),
}


def said(out):
    """The value a --crc without at= said."""
    return out.split(": ")[-1].strip()


def image_of(path, fill=0xFF, size=0):
    """The bytes objcopy reads from a file, gaps filled, from its lowest
    address; at least size of them, the last filled too."""
    form = "srec" if path.endswith(("19", "37")) else "ihex"
    subprocess.run(["objcopy", "-I", form, "-O", "binary", "--gap-fill", hex(fill), path,
                    "back.bin"], check=True)
    with open("back.bin", "rb") as f:
        got = f.read()
    return got + bytes([fill]) * (size - len(got))


def ihex(records, linear=True):
    """Intel HEX of (address, bytes) records, in the order given."""
    lines, upper = [], None
    for address, data in records:
        if address >> 16 != upper:
            upper = address >> 16
            body = bytes([2, 0, 0, 4 if linear else 2]) + (upper if linear else upper << 12).to_bytes(2, "big")
            lines.append(":%s%02X" % (body.hex().upper(), -sum(body) & 0xFF))
        body = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, 0]) + data
        lines.append(":%s%02X" % (body.hex().upper(), -sum(body) & 0xFF))
    return "\n".join(lines + [":00000001FF", ""])


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


def read(path):
    with open(path, newline="") as f:
        return f.read()


random.seed(11)
os.chdir(tempfile.mkdtemp())
base, size = 0x08000000, 6000
data = bytes(random.randrange(256) for _ in range(size)) + b"\xff" * 4
with open("data.bin", "wb") as f:
    f.write(data)
for name, form in (("fw.hex", "ihex"), ("fw.s37", "srec")):
    subprocess.run(["objcopy", "-I", "binary", "-O", form, "--change-addresses", hex(base),
                    "data.bin", name], check=True)
subprocess.run(["objcopy", "-I", "binary", "-O", "srec", "--srec-forceS3", "data.bin",
                "low.s37"], check=True)
subprocess.run(["objcopy", "-I", "binary", "-O", "srec", "data.bin", "fw.s19"], check=True)

# Each algorithm stamped at the end of the range, in both byte orders, to
# standard output and in place alike; only the stored bytes change.
for name in ("fw.hex", "fw.s37", "fw.s19"):
    start = 0 if name == "fw.s19" else base
    for algorithm, (n, model) in MODELS.items():
        for order in ("le", "be"):
            stamp = f"--crc={algorithm},range={start:#x}+{size},at={start + size:#x},order={order}"
            what = f"{name} {stamp}"
            status, out, err = run(stamp, name)
            expect(what + ": status", (status, err.count("written at")), (0, 1))
            write("out." + name, out)
            got = image_of("out." + name)
            stored = int.from_bytes(got[size:size + n], "little" if order == "le" else "big")
            expect(what + ": value", (stored, got[:size]), (model(data[:size]), data[:size]))
            changed = [a for a, b in zip(read(name).splitlines(), out.splitlines()) if a != b]
            expect(what + ": lines changed", len(changed), 1)
            expect(what + ": --check of it", run("--check", stamp, "out." + name)[0], 0)
            write("copy." + name, read(name))
            expect(what + ": -i", (run("-i", stamp, "copy." + name)[0], read("copy." + name)), (0, out))

# The STM32 CRC unit: CRC-32/MPEG-2 of 32-bit little-endian words, each fed
# most significant byte first.
words = b"".join(data[i:i + 4][::-1] for i in range(0, size, 4))
status, out, _ = run(f"--crc=crc-32/mpeg-2,reverse=4,range={hex(base)}+{size}", "fw.hex")
expect("reverse=4", said(out), f"0x{MODELS['crc-32/mpeg-2'][1](words):08X}")
halves = b"".join(data[i:i + 2][::-1] for i in range(0, size, 2))
status, out, _ = run(f"--crc=crc-16/xmodem,reverse=2,range={hex(base)}+{size}", "fw.hex")
expect("reverse=2", said(out), f"0x{binascii.crc_hqx(halves, 0):04X}")

odd = [(base + 7 * k, data[7 * k:7 * k + 5]) for k in range(40)]
write("odd.hex", ihex(odd))
filled = image_of("odd.hex", 0x5A, 280)[:280]
status, out, _ = run(f"--crc=crc-32,reverse=4,fill=5A,range={base:#x}+280", "odd.hex")
expect("reverse=4 over gaps", said(out), f"0x{zlib.crc32(b''.join(filled[i:i + 4][::-1] for i in range(0, 280, 4))):08X}")

# Gaps, records out of order, a record written over, the value stored
# before its range, a range of 4 GiB.
pieces = [(base + 16 * i, data[16 * i:16 * i + 16]) for i in range(size // 16) if i % 7 != 3]
write("gaps.hex", ihex(pieces))
for fill in (0xFF, 0x00, 0xA5):
    status, out, _ = run(f"--crc=crc-32,range={hex(base)}+{size},fill={fill:X}", "gaps.hex")
    expect(f"gaps fill={fill:X}", said(out), f"0x{zlib.crc32(image_of('gaps.hex', fill, size)[:size]):08X}")
status, _, err = run(f"--crc=crc-32,range={hex(base)}+{size},fill=none", "gaps.hex")
expect("fill=none", (status, f"{base + 48:#010X} is not in the file".replace("0X", "0x") in err), (1, True))
shuffled = pieces[:]
random.shuffle(shuffled)
write("shuffled.hex", ihex(shuffled))
status, out, _ = run(f"--crc=crc-32,range={hex(base)}+{size}", "shuffled.hex")
expect("out of order", said(out), f"0x{zlib.crc32(image_of('gaps.hex', size=size)[:size]):08X}")
status, _, err = run(f"--crc=crc-32,range={hex(base)}+{size},fill=none", "shuffled.hex")
expect("fill=none out of order", (status, f"0x{base + 48:08X} is not in the file" in err), (1, True))
write("falling.hex", ihex(pieces[::-1]))
status, out, _ = run(f"--crc=crc-32,range={hex(base)}+{size}", "falling.hex")
expect("falling order", said(out), f"0x{zlib.crc32(image_of('gaps.hex', size=size)[:size]):08X}")
write("over.hex", ihex(pieces + [(base + 100, b"\x01\x02\x03")]))
over = bytearray(image_of("gaps.hex", size=size)[:size])
over[100:103] = b"\x01\x02\x03"
status, out, _ = run(f"--crc=crc-32,range={hex(base)}+{size}", "over.hex")
expect("written over", said(out), f"0x{zlib.crc32(over):08X}")
write("header.hex", ihex([(base, b"\xff" * 4)] + [(base + 4 + a, data[a:a + 16]) for a in range(0, 64, 16)]))
status, out, _ = run(f"--crc=crc-16/xmodem,range={hex(base + 4)}+64,at={hex(base)},order=be", "header.hex")
write("stamped.hex", out)
expect("stored before its range", image_of("stamped.hex")[:2], binascii.crc_hqx(data[:64], 0).to_bytes(2, "big"))
write("ends.hex", ihex([(0, data[:16]), (0xFFFFFFF0, data[16:32])]))
chunk = b"\xff" * (1 << 24)
crc = zlib.crc32(data[:16])
for _ in range(255):
    crc = zlib.crc32(chunk, crc)
crc = zlib.crc32(b"\xff" * ((1 << 24) - 32), crc)
status, out, _ = run("--crc=crc-32,range=0-0xFFFFFFFF", "ends.hex")
expect("4 GiB", said(out), f"0x{zlib.crc32(data[16:32], crc):08X}")

# A later range holds an earlier value; --set comes before every --crc.
status, out, _ = run("--set", f"{hex(base)}=C0FFEE", f"--crc=crc-16/xmodem,range={hex(base)}+16,at={hex(base + 16)},order=le",
                     f"--crc=crc-32,range={hex(base)}+32,at={hex(base + 32)},order=le", "fw.hex")
write("two.hex", out)
two = image_of("two.hex")
expect("--set first", two[16:18], binascii.crc_hqx(b"\xc0\xff\xee" + data[3:16], 0).to_bytes(2, "little"))
expect("a later range", two[32:36], zlib.crc32(two[:32]).to_bytes(4, "little"))

# --check: the stamped image passes; an edit after the stamp is found at
# the first digit of the stored value.
check = f"--crc=crc-32,range={base:#x}+{size},at={base + size:#x},order=le"
write("stamped.hex", run(check, "fw.hex")[1])
_, edited, _ = run("--set", f"{base + 5:#x}={data[5] ^ 1:02X}", "stamped.hex")
write("edited.hex", edited)
status, out, _ = run("--check", check, "edited.hex")
line = 1 + size // 16 + 1
edited_data = data[:5] + bytes([data[5] ^ 1]) + data[6:size]
expect("--check of an edited image", (status, out.split("\n")[0]), (1,
       f"edited.hex:{line}:10: error: crc-32/iso-hdlc of 0x{base:08X}-0x{base + size - 1:08X} is "
       f"{zlib.crc32(edited_data):08X}; stored at 0x{base + size:08X} (little-endian): {zlib.crc32(data[:size]):08X}"))
bad = read("stamped.hex").split("\n")
bad[3] = bad[3][:12] + "G" + bad[3][13:]
write("bad.hex", "\n".join(bad))
status, out, _ = run("--check", check, "bad.hex")
expect("--check with a line that needs a hand", (status, "cannot be computed" in out), (1, True))
for form in ("json", "sarif", "github", "gitlab", "junit"):
    status, out, _ = run("--check", "--format=" + form, check, "edited.hex")
    expect("--format=" + form, (status, "crc-32/iso-hdlc of" in out), (1, True))

# --check compares each value with the bytes the file holds, an earlier
# value that is wrong making no later one wrong.
first = f"--crc=crc-32,range={base:#x}+32,at={base + 32:#x},order=le"
second = f"--crc=crc-32,range={base:#x}+36,at={base + 36:#x},order=le"
write("chain.hex", run("--set", f"{base + 32:#x}=00000000", second, "fw.hex")[1])
status, out, _ = run("--check", first, second, "chain.hex")
expect("--check of each as the file has it", (status, out.count("error")), (1, 1))

# Bytes whose addresses loaders disagree on: under an address record of a
# wrong count, and where a record over a 64 KiB boundary wraps.
line = ihex([(base + 0x10000, b"\xaa" * 16), (base, data[:16])]).split("\n")
line.insert(4, ":03000004080100F0")
write("base.hex", "\n".join(line))
write("wraps.hex", ihex([(base, data[:16]), (base + 0xFFF8, data[16:32])]))
for name, stamp, words in (
        ("base.hex", f"range={base + 0x10000:#x}+32,at={base:#x}", "has a wrong count"),
        ("wraps.hex", f"range={base:#x}+16,at={base + 0xFFF8:#x}", "wrap a record"),
        ("wraps.hex", f"range={base + 0xFFF8:#x}+8,at={base + 0x10002:#x}", "past the 64 KiB")):
    status, out, err = run(f"--crc=crc-32,{stamp},order=le", name)
    expect(name + " " + stamp, (status, out, words in err), (1, "", True))
    status, out, _ = run("--check", f"--crc=crc-32,{stamp},order=le", name)
    expect("--check " + name + " " + stamp, (status, words in out), (1, True))
status, _, err = run("--crc=crc-32,range=0x80000000+16", "fw.hex")
expect("a range of no data", (status, "no record holds a byte of it" in err), (0, True))

# What is refused: a usage error, nothing read; a file no value can be
# written in, nothing written.
for args, words in (
        ([second, first], "in the range of an earlier --crc"),
        ([first, f"--crc=crc-16/xmodem,range=0+4,at={base + 34:#x},order=le"], "meets that of an earlier"),
        (["--set", f"{base + 32:#x}=00", first], "meets bytes --set sets")):
    status, out, err = run(*args, "fw.hex")
    expect(" ".join(args), (status, out, words in err), (2, "", True))
for value, words in (
        ("crc-33,range=0-3", "no algorithm"),
        ("crc-32,range=0-3,at=8", "order=le or order=be is needed"),
        ("crc-32,at=8,order=le", "range= is needed"),
        ("crc-32,range=3-0", "START-END"),
        ("crc-32,range=0xFFFFFFF0+32", "past 0xFFFFFFFF"),
        ("crc-32,range=0+010", "without a leading 0"),
        ("crc-32,range=0-15,at=12,order=le", "inside its own range"),
        ("crc-32,range=0-14,reverse=4", "multiple of 4"),
        ("crc-32,range=0-15,reverse=3", "reverse= is 2 or 4"),
        ("crc-32,range=0-15,fill=100", "fill= is a byte"),
        ("crc-32,range=0-15,range=0-7", "given twice"),
        ("crc-32,range=0-15,poly=7", "poly= is not taken"),
        ("custom,width=16,poly=1021,range=0-15", "init= is missing"),
        ("custom,width=40,poly=1,init=0,refin=true,refout=true,xorout=0,range=0-3", "width= is 8 to 32"),
        ("custom,width=7,poly=1,init=0,refin=true,refout=true,xorout=0,range=0-3", "width= is 8 to 32"),
        ("crc-32,range=0-15,complement=ones", "complement= is for sum"),
        ("crc-32,range=0-15,order=middle", "order= is le"),
        ("crc-32,range=0-15,at=0xFFFFFFFE,order=le", "with room for the value")):
    status, out, err = run("--crc=" + value, "fw.hex")
    expect(value, (status, out, words in err), (2, "", True))
status, _, err = run("--check", "--crc=crc-32,range=0-15", "fw.hex")
expect("--check without at=", (status, "give at=" in err), (2, True))
status, out, err = run(f"--crc=crc-32,range={hex(base)}+16,at={hex(base + 0x100000)},order=le", "fw.hex")
expect("no record holds the value", (status, out, "is not in the file" in err), (1, "", True))
def pipe(path):
    with open(path, "rb") as f:
        return subprocess.Popen(["cat"], stdin=f, stdout=subprocess.PIPE).stdout


status, out, _ = run(f"--crc=crc-32,range={base:#x}+{size}", "/dev/stdin", stdin=pipe("fw.hex"))
expect("said from a pipe", said(out), f"0x{zlib.crc32(data[:size]):08X}")
status, out, err = run(check, "/dev/stdin", stdin=pipe("fw.hex"))
expect("written from a pipe", (status, out, "name the file itself" in err), (2, "", True))

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
