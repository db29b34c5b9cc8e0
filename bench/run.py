#!/usr/bin/env python3
"""Benchmark: tallyfix against a plain copy (dd) and objcopy, on inputs it makes.

usage: bench/run.py [--mib N] [--runs N] [--small-runs N] [--tool PATH]... [--work DIR]
                    [--srec-only | --set-only | --crc-only]

Makes ~N MiB Intel HEX files from random bytes (16-byte records by objcopy,
32- and 255-byte records by this script, which objcopy only reads), spoils
every data checksum, checks that tallyfix gives back the valid file, then
times tallyfix, `dd bs=1M` and `objcopy -I ihex -O ihex` side by side and
prints medians. Each --tool given is timed in the same interleaved runs, so
that builds compare side by side. The first tool's --check is timed beside
its plain run and cat on the valid files, in CPU time (user + system); every
tool's --in-place on a fresh copy of each file with every checksum wrong, and
with one wrong, beside `cp FILE COPY && sync COPY`. On files of firmware
sizes (64 KiB to 4 MiB) start-up is most of the time: there the plain run and
--check are timed against `cat FILE > /dev/null`, in CPU time.
--set in place on each file (one checksum wrong besides) is timed beside
--in-place on the same file, and 1,000 runs of --set to a new file each
(one image a serial number each, from a 1 MiB binary) beside 1,000 cp runs.
--crc in place over the whole image of each file likewise, after the
throughput of each checksum (tallyfix_checksum_speed, built beside the
tool); and the CRC of a 4 GiB range of two records beside --check of them.
S-record files are timed against the Intel HEX file objcopy makes from the
same binary, the plain run and --check each, in CPU time: S37 and S28 of a
12 MiB binary (S28 holds 16 MiB at most), S19 of a 60 KiB one (S19 holds 64
KiB), each with records of 16 and of 32 data bytes.
A benchmark, not a test: it fails only when the output is wrong.
"""
import argparse, collections, hashlib, os, shutil, statistics, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def record(address, data, kind=0):
    body = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + data
    return ":%s%02X" % (body.hex().upper(), -sum(body) & 0xFF)


def write_ihex(path, blob, size, newline):
    """Our own writer, for record sizes objcopy does not make."""
    with open(path, "w", newline="") as f:
        for offset in range(0, len(blob), size):
            if offset % 0x10000 < size and offset:
                f.write(record(0, (offset >> 16).to_bytes(2, "big"), 4) + newline)
            f.write(record(offset & 0xFFFF, blob[offset:offset + size]) + newline)
        f.write(":00000001FF" + newline)


def spoil(valid, spoiled):
    """Every data record's checksum made wrong, nothing else changed."""
    with open(valid, "rb") as f, open(spoiled, "wb") as out:
        for line in f:
            if line[7:9] == b"00":
                end = line.rstrip(b"\r\n")
                wrong = b"%02X" % ((int(end[-2:], 16) + 1) & 0xFF)
                line = end[:-2] + wrong + line[len(end):]
            out.write(line)


def make_inputs(work, mib):
    blob = os.urandom(mib * 1024 * 1024 * 16 // 44)
    with open(os.path.join(work, "random.bin"), "wb") as f:
        f.write(blob)
    crlf16 = os.path.join(work, "rec16-crlf.hex")
    subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", "--change-addresses=0x08000000",
                    os.path.join(work, "random.bin"), crlf16], check=True)
    with open(crlf16, "rb") as f, open(os.path.join(work, "rec16-lf.hex"), "wb") as out:
        out.write(f.read().replace(b"\r\n", b"\n"))
    write_ihex(os.path.join(work, "rec32-lf.hex"), blob, 32, "\n")
    write_ihex(os.path.join(work, "rec255-crlf.hex"), blob, 255, "\r\n")
    names = ["rec16-lf", "rec16-crlf", "rec32-lf", "rec255-crlf"]
    for name in names:
        spoil(os.path.join(work, name + ".hex"), os.path.join(work, name + ".bad"))
    return names


def timed(command, out):
    with open(out, "wb") as sink:
        start = time.perf_counter()
        subprocess.run(command, stdout=sink, stderr=subprocess.DEVNULL, check=True)
        return time.perf_counter() - start


def cpu_timed(command, out):
    """User and system time, which a shared machine disturbs less than the clock."""
    with open(out, "wb") as sink:
        child = subprocess.Popen(command, stdout=sink, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if status != 0 and not (command[1:2] == ["--check"] and os.waitstatus_to_exitcode(status) == 1):
            sys.exit("%s failed" % " ".join(command))
        return usage.ru_utime + usage.ru_stime


def peak_rss_kib(command, stdin=None):
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdin=stdin,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    return int(result.stderr.split()[-1])


def bench_file(tools, work, name, runs):
    """One row per tool, all of them timed in the same interleaved runs."""
    valid, bad = (os.path.join(work, name + ext) for ext in (".hex", ".bad"))
    out = os.path.join(work, "out.hex")
    for tool in tools:
        timed([tool, bad], out)
        if not filecmp(out, valid):
            sys.exit("%s did not give back the valid file for %s" % (tool, name))
    t = collections.defaultdict(list)
    copy = ["dd", "if=" + bad, "bs=1M", "status=none"]
    for i in range(runs):
        for tool in tools:
            t[tool, "null"].append(timed([tool, bad], os.devnull))
            t[tool, "file"].append(timed([tool, bad], out))
        t["copy", "null"].append(timed(copy, os.devnull))
        t["copy", "file"].append(timed(copy, out))
        if i < 3:
            t["objcopy"].append(timed(["objcopy", "-I", "ihex", "-O", "ihex", valid, out], os.devnull))
    m = {k: statistics.median(v) for k, v in t.items()}
    mib = os.path.getsize(bad) / 2**20
    return [(name, label(tool), "%.0f" % mib, "%.0f" % (mib / m[tool, "null"]),
             "%.2f" % (m[tool, "null"] / m["copy", "null"]), "%.2f" % (m[tool, "file"] / m["copy", "file"]),
             "%.0f" % (m["objcopy"] / m[tool, "file"]), str(peak_rss_kib([tool, bad]))) for tool in tools]


def label(tool):
    return os.path.relpath(tool, ROOT) if tool.startswith(ROOT) else tool


def bench_small(tools, work, runs):
    """Start-up and a little work, in CPU time: whole lines of the valid
    16-byte file, cut to the sizes firmware files have, its plain run and
    --check beside cat."""
    rows = []
    with open(os.path.join(work, "rec16-crlf.hex"), "rb") as f:
        blob = f.read(4 * 2**20 + 2**16)
    for kib in (64, 256, 1024, 4096):
        small = os.path.join(work, "small.hex")
        with open(small, "wb") as f:
            f.write(blob[:blob.rindex(b"\n", 0, kib * 1024) + 1] + b":00000001FF\r\n")
        t = collections.defaultdict(list)
        for _ in range(runs):
            for tool in tools:
                t[tool, "plain"].append(cpu_timed([tool, small], os.devnull))
                t[tool, "check"].append(cpu_timed([tool, "--check", small], os.devnull))
            t["cat"].append(cpu_timed(["cat", small], os.devnull))
        cat = statistics.median(t["cat"])
        for tool in tools:
            plain, check = (statistics.median(t[tool, k]) for k in ("plain", "check"))
            rows.append(("%d KiB" % kib, label(tool), "%.2f" % (plain * 1000), "%.2f" % (check * 1000),
                         "%.2f" % (cat * 1000), "%.2f" % (plain / cat), "%.2f" % (check / cat),
                         str(peak_rss_kib([tool, small]))))
    return rows


def spoil_one(valid, spoiled):
    """One data checksum made wrong, in the middle of the file."""
    with open(valid, "rb") as f:
        blob = f.read()
    at = blob.index(b"\n", len(blob) // 2) + 1
    end = blob.index(b"\n", at)
    end -= blob[end - 1:end] == b"\r"
    wrong = b"%02X" % ((int(blob[end - 2:end], 16) + 1) & 0xFF)
    with open(spoiled, "wb") as out:
        out.write(blob[:end - 2] + wrong + blob[end:])


def bench_check(tool, work, names, runs):
    """--check on the valid files beside the plain run and cat, all to
    /dev/null, in CPU time."""
    rows = []
    for name in names:
        valid = os.path.join(work, name + ".hex")
        t = collections.defaultdict(list)
        for _ in range(runs):
            t["check"].append(cpu_timed([tool, "--check", valid], os.devnull))
            t["plain"].append(cpu_timed([tool, valid], os.devnull))
            t["cat"].append(cpu_timed(["cat", valid], os.devnull))
        m = {k: statistics.median(v) for k, v in t.items()}
        rows.append((name, "%.0f" % (m["check"] * 1000), "%.0f" % (m["plain"] * 1000),
                     "%.0f" % (m["cat"] * 1000), "%.2f" % (m["check"] / m["cat"]),
                     "%.2f" % (m["plain"] / m["cat"])))
    return rows


def bench_in_place(tools, work, names, runs):
    """--in-place on a fresh copy of a file with every data checksum wrong,
    and of one with one wrong in the middle, beside `cp FILE COPY && sync
    COPY`, to a new name and over an earlier copy (whose blocks, as the
    replaced file's, are freed). Medians of the ratios of each round."""
    rows = []
    target, copy = os.path.join(work, "in-place.hex"), os.path.join(work, "copy.hex")
    for name in names:
        valid = os.path.join(work, name + ".hex")
        files = {"every": os.path.join(work, name + ".bad"), "one": os.path.join(work, name + ".one")}
        spoil_one(valid, files["one"])
        t = collections.defaultdict(list)
        for _ in range(runs):
            for wrong, spoiled in files.items():
                for tool in tools:
                    shutil.copyfile(spoiled, target)
                    subprocess.run(["sync"], check=True)
                    t[tool, wrong].append(timed([tool, "--in-place", target], os.devnull))
                    if not filecmp(target, valid):
                        sys.exit("--in-place did not give back the valid file for %s" % name)
                for over in (False, True):
                    if not over and os.path.exists(copy):
                        os.remove(copy)
                    subprocess.run(["sync"], check=True)
                    t["cp", wrong, over].append(
                        timed(["sh", "-c", 'cp "$0" "$1" && sync "$1"', spoiled, copy], os.devnull))
        for wrong in files:
            for tool in tools:
                ratio = [statistics.median(a / b for a, b in zip(t[tool, wrong], t["cp", wrong, over]))
                         for over in (False, True)]
                rows.append((name, wrong, label(tool), "%.0f" % (statistics.median(t[tool, wrong]) * 1000),
                             "%.0f" % (statistics.median(t["cp", wrong, False]) * 1000),
                             "%.0f" % (statistics.median(t["cp", wrong, True]) * 1000),
                             "%.2f" % ratio[0], "%.2f" % ratio[1]))
    return rows


def beside_in_place(tools, name, spoiled, target, options, runs):
    """-i with the options beside -i alone, each on a fresh copy of the
    file; a row a tool, with the median of the ratios."""
    t = collections.defaultdict(list)
    for _ in range(runs):
        for tool in tools:
            for given in ([], options):
                shutil.copyfile(spoiled, target)
                subprocess.run(["sync"], check=True)
                t[tool, bool(given)].append(timed([tool, "-i", *given, target], os.devnull))
    return [(name, label(tool), "%.0f" % (statistics.median(t[tool, False]) * 1000),
             "%.0f" % (statistics.median(t[tool, True]) * 1000),
             "%.2f" % statistics.median(a / b for a, b in zip(t[tool, True], t[tool, False])))
            for tool in tools]


def bench_set(tools, work, names, runs):
    """-i --set of four bytes a third of the way in, beside -i, on a fresh
    copy of the file with one checksum wrong; medians of the ratios."""
    rows = []
    for name in names:
        spoiled = os.path.join(work, name + ".one")
        base = 0x08000000 if name.startswith("rec16") else 0  # objcopy's, or ours
        edit = "--set=%#x=u32le:0xCAFE" % (base + os.path.getsize(spoiled) * 16 // 44 // 3)
        rows += beside_in_place(tools, name, spoiled, os.path.join(work, "in-place.hex"), [edit], runs)
    return rows


def bench_crc(tools, work, names, runs):
    """-i --crc=crc-32 over the whole image, its value in its last four
    bytes, beside -i, on a fresh copy of the file with one checksum wrong;
    then the value of a 4 GiB range of a few records, said, beside --check
    of the same file. Medians of the ratios."""
    rows = []
    size = os.path.getsize(os.path.join(work, "random.bin"))
    # Our 255-byte records run over 64 KiB boundaries, whose bytes loaders
    # disagree on: --crc refuses a range that holds them.
    for name in [n for n in names if not n.startswith("rec255")]:
        spoiled = os.path.join(work, name + ".one")
        base = 0x08000000 if name.startswith("rec16") else 0  # objcopy's, or ours
        stamp = "--crc=crc-32,range=%#x+%d,at=%#x,order=le" % (base, size - 4, base + size - 4)
        rows += beside_in_place(tools, name, spoiled, os.path.join(work, "in-place.hex"), [stamp], runs)
    ends = os.path.join(work, "ends.hex")
    with open(ends, "w") as f:
        f.write(record(0, bytes(16)) + "\n" + record(0, b"\xff\xff", 4) + "\n" +
                record(0xFFF0, bytes(range(16))) + "\n:00000001FF\n")
    for tool in tools:
        t = collections.defaultdict(list)
        for _ in range(runs):
            t["crc"].append(cpu_timed([tool, "--crc=crc-32,range=0-0xFFFFFFFF", ends], os.devnull))
            t["check"].append(cpu_timed([tool, "--check", ends], os.devnull))
        rows.append(("4 GiB range, 2 records", label(tool), "%.1f" % (statistics.median(t["check"]) * 1000),
                     "%.1f" % (statistics.median(t["crc"]) * 1000),
                     "%.2f" % statistics.median(a / b for a, b in zip(t["crc"], t["check"]))))
    return rows


def bench_serials(tools, work, runs, serial_runs):
    """One image a serial number each: serial_runs runs of --set to a new
    file, beside as many of cp, in one shell loop each, interleaved."""
    image, out = os.path.join(work, "fw.hex"), os.path.join(work, "serials")
    with open(os.path.join(work, "fw.bin"), "wb") as f:
        f.write(os.urandom(1 << 20))
    subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", "--change-addresses=0x08000000",
                    os.path.join(work, "fw.bin"), image], check=True)
    os.makedirs(out, exist_ok=True)
    def loop(command):
        return 'n=0; while [ $n -lt %d ]; do n=$((n + 1)); %s; done' % (serial_runs, command)
    commands = {"cp": loop('cp "$0" "$1/fw-$n.hex"')}
    for tool in tools:
        commands[tool] = loop('"%s" --set 0x0807F000=u32le:$n "$0" >"$1/fw-$n.hex" 2>/dev/null' % tool)
    t = collections.defaultdict(list)
    for _ in range(runs):
        for key, command in commands.items():
            t[key].append(timed(["sh", "-c", command, image, out], os.devnull))
    shutil.rmtree(out)
    return [(label(tool), str(serial_runs), "%.0f" % (statistics.median(t[tool]) * 1000),
             "%.0f" % (statistics.median(t["cp"]) * 1000),
             "%.2f" % statistics.median(a / b for a, b in zip(t[tool], t["cp"])))
            for tool in tools]


def print_table(head, rows):
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for row in rows:
        print("| " + " | ".join(row) + " |")


def filecmp(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def digest(process):
    h = hashlib.sha256()
    for chunk in iter(lambda: process.stdout.read(2**20), b""):
        h.update(chunk)
    process.wait()
    return h.hexdigest()


def bench_long_line(tool, gib=1):
    """One line of gib GiB without a line feed, made on the fly, never stored."""
    gen = [sys.executable, "-c", "import sys; o = sys.stdout.buffer; o.write(b':0300300002337A1E')\n"
           "for _ in range(%d): o.write(b'x' * 2**20)" % (gib * 1024)]
    expected = digest(subprocess.Popen(gen, stdout=subprocess.PIPE))
    source = subprocess.Popen(gen, stdout=subprocess.PIPE)
    start = time.perf_counter()
    run = subprocess.Popen(["/usr/bin/time", "-f", "%M", tool, "/dev/stdin"], stdin=source.stdout,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    source.stdout.close()
    if digest(run) != expected:
        sys.exit("tallyfix changed the long line")
    elapsed = time.perf_counter() - start
    rss = run.stderr.read().split()[-1].decode()
    return ("1 GiB, no LF", label(tool), "%d" % (gib * 1024), "%.0f" % (gib * 1024 / elapsed), "-", "-", "-", rss)


def bench_srec(tool, work, runs, small_runs):
    """The plain run and --check on S-record files beside the Intel HEX file
    of the same binary and record length, in CPU time; medians of the ratios
    of each round."""
    rows = []
    for size, runs_here, kinds in ((12 * 2**20, runs, ("S28", "S37")), (60 * 1024, small_runs, ("S19",))):
        binary = os.path.join(work, "srec.bin")
        with open(binary, "wb") as f:
            f.write(os.urandom(size))
        for length in (16, 32):
            ihex = os.path.join(work, "srec-twin.hex")
            if length == 16:
                subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", binary, ihex], check=True)
            else:
                with open(binary, "rb") as f:
                    write_ihex(ihex, f.read(), 32, "\r\n")
            for kind in kinds:
                srec = os.path.join(work, "srec." + kind.lower())
                subprocess.run(["objcopy", "-I", "binary", "-O", "srec", "--srec-len=%d" % length]
                               + (["--srec-forceS3"] if kind == "S37" else []) + [binary, srec], check=True)
                with open(srec, "rb") as f:
                    if f.read(2) != b"S0" or b"\n" + kind[:2].encode() not in f.read(200):
                        sys.exit("objcopy did not make an %s file" % kind)
                ratio = collections.defaultdict(list)
                for _ in range(runs_here):
                    for mode in ([], ["--check"]):
                        s = cpu_timed([tool] + mode + [srec], os.devnull)
                        h = cpu_timed([tool] + mode + [ihex], os.devnull)
                        ratio[tuple(mode)].append(s / h if h else 1.0)
                rows.append(("%s, %d bytes a record" % (kind, length), "%.0f" % (os.path.getsize(srec) / 1024),
                             "%.2f" % statistics.median(ratio[()]), "%.2f" % statistics.median(ratio[("--check",)]),
                             str(peak_rss_kib([tool, "--check", srec]))))
    return rows


def print_crc_rows(tools, args, names):
    speed = os.path.join(os.path.dirname(tools[0]), "tallyfix_checksum_speed")
    if os.path.exists(speed):
        subprocess.run([speed], check=True)
        print()
    print_table(("file, one checksum wrong", "tool", "-i ms (--check CPU ms)",
                 "-i --crc ms (CPU ms)", "x"),
                bench_crc(tools, args.work, names, args.runs))


def print_set_rows(tools, args, names):
    print_table(("file, one checksum wrong", "tool", "-i ms", "-i --set ms", "-i --set x -i"),
                bench_set(tools, args.work, names, args.runs))
    print()
    print_table(("1 MiB image", "runs", "--set > new file ms", "cp ms", "x cp"),
                bench_serials(tools, args.work, args.runs, args.serial_runs))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mib", type=int, default=128)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--small-runs", type=int, default=200)
    ap.add_argument("--tool", action="append", help="default: build/release/tallyfix")
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench"))
    ap.add_argument("--srec-only", action="store_true", help="only the S-record rows")
    ap.add_argument("--set-only", action="store_true", help="only the --set rows")
    ap.add_argument("--crc-only", action="store_true", help="only the --crc rows")
    ap.add_argument("--serial-runs", type=int, default=1000)
    args = ap.parse_args()
    tools = [os.path.abspath(t) for t in args.tool or [os.path.join(ROOT, "build", "release", "tallyfix")]]
    if not os.path.exists(tools[0]):
        for step in (["cmake", "--preset", "release"], ["cmake", "--build", "--preset", "release"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    os.makedirs(args.work, exist_ok=True)
    if args.set_only or args.crc_only:
        names = make_inputs(args.work, args.mib)
        for name in names:
            spoil_one(os.path.join(args.work, name + ".hex"), os.path.join(args.work, name + ".one"))
        (print_set_rows if args.set_only else print_crc_rows)(tools, args, names)
        return
    print_table(("S-record file", "KiB", "plain x Intel HEX", "--check x Intel HEX", "--check peak RSS KiB"),
                bench_srec(tools[0], args.work, args.runs, args.small_runs))
    print()
    if args.srec_only:
        return
    names = make_inputs(args.work, args.mib)
    rows = [row for name in names for row in bench_file(tools, args.work, name, args.runs)]
    rows.append(bench_long_line(tools[0]))
    print_table(("input", "tool", "MiB", "MiB/s", "x copy, /dev/null", "x copy, to file",
                 "objcopy / tallyfix", "peak RSS KiB"), rows)
    print()
    print_table(("valid file", "--check CPU ms", "plain CPU ms", "cat CPU ms", "--check x cat", "plain x cat"),
                bench_check(tools[0], args.work, names, args.runs))
    print()
    print_table(("file", "checksums wrong", "tool", "--in-place ms", "cp+sync new ms", "cp+sync over ms",
                 "x cp+sync new", "x cp+sync over"),
                bench_in_place(tools, args.work, names, args.runs))
    print()
    print()
    print_set_rows(tools, args, names)
    print()
    print_crc_rows(tools, args, names)
    print()
    print_table(("small file", "tool", "plain CPU ms", "--check CPU ms", "cat CPU ms", "plain x cat",
                 "--check x cat", "peak RSS KiB"),
                bench_small(tools, args.work, args.small_runs))
    shutil.rmtree(args.work)


if __name__ == "__main__":
    main()
