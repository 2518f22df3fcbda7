"""Runs likeness-check as users do and reads what it writes with Python's own parsers.

check_cli_test.py CHECK LIKENESS LIKENESS_MAP DATA SHARD_EXAMPLE
"""
import csv
import fcntl
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import time
import xml.etree.ElementTree as ElementTree
import zlib

CHECK, LIKENESS, LIKENESS_MAP, DATA, SHARD = [os.fsencode(a) for a in sys.argv[1:6]]
KEYS = ["first", "second", "metric", "ssim", "channels", "blocks", "ignored", "worst", "below",
        "pass", "map", "diff", "error", "code"]


def run(*arguments, stdin=b"", cwd=None, env=None):
    done = subprocess.run([CHECK, *arguments], input=stdin, capture_output=True, cwd=cwd, env=env,
                          timeout=120)
    return done.stdout, done.stderr, done.returncode


def records(output):
    lines = [json.loads(line) for line in output.decode().splitlines()]
    assert all(list(line) == KEYS for line in lines), lines
    return lines


def crafted(name):
    return os.path.join(DATA, b"crafted", name)


def check_pairs_and_errors(folder):
    """FIRST against many, with every kind of trouble, in JSON; every mean is likeness's."""
    first = os.path.join(folder, b"-first with space.bmp")
    shutil.copy(crafted(b"blocks-first.bmp"), first)
    odd = [os.path.join(folder, name) for name in (b"quote\"', comma.bmp", b"bad \xff\xfe.bmp",
                                                   b"control \x01\n.bmp", b"U+FFFF \xef\xbf\xbf.bmp")]
    for name in odd:
        shutil.copy(crafted(b"blocks-second.bmp"), name)
    os.mkfifo(os.path.join(folder, b"fifo.bmp"))
    open(os.path.join(folder, b"empty.bmp"), "wb").close()
    seconds = [crafted(b"blocks-second.bmp"), crafted(b"blocks-first-24bit.bmp"), *odd,
               os.path.join(folder, b"missing.bmp"), folder, os.path.join(folder, b"fifo.bmp"),
               os.path.join(folder, b"empty.bmp"), crafted(b"png-bomb.png"),
               crafted(b"grey8x16.bmp"), crafted(b"colour16x16.bmp")]
    out, _, status = run(b"--format=json", b"--jobs", b"3", b"--", first, *seconds, cwd=folder)
    got = records(out)
    assert status == 2 and [r["second"] for r in got][:2] == [s.decode() for s in seconds[:2]]
    assert got[3]["second"].endswith("bad \ufffd\ufffd.bmp") and got[2]["second"].endswith("\"', comma.bmp")
    assert [(r["error"], r["code"]) for r in got[6:]] == [
        ("cannot read second", -1), ("cannot read second", -1), ("cannot read second", -2),
        ("cannot read second", -2), ("cannot read second", -10), ("sizes differ", None),
        ("not grey", None)]
    # 3 x 2 blocks; the third of the top row scores lowest.
    assert got[0]["worst"]["x"] == 16 and got[0]["worst"]["y"] == 0 and got[0]["blocks"] == 6
    for record, text, second in zip(got[:6], out.splitlines(), seconds):
        line = subprocess.run([LIKENESS, first, second], capture_output=True).stdout
        assert line == b"SSIM: %f\n" % record["ssim"]
        # The shortest decimal that reads back as the same double, as Python's repr writes it.
        shortest = repr(float(record["ssim"])).removesuffix(".0")
        assert b'"ssim":%s,' % shortest.encode() in text, (shortest, text)
    return first, seconds[:6]


def check_verdicts_and_reports(folder, first, seconds):
    """Exit statuses 0 and 1, CSV, JUnit and maps, each read back by its parser."""
    assert run(first, first)[2] == 0
    maps, junit = os.path.join(folder, b"maps"), os.path.join(folder, b"report.xml")
    out, _, status = run(b"--min-block", b"0.5", b"--format", b"csv", b"--maps", maps,
                         b"--junit", junit, first, first, *seconds)
    assert status == 1
    rows = list(csv.DictReader(io.StringIO(out.decode(), newline="")))
    assert [row["pass"] for row in rows] == ["true", "false", "true"] + ["false"] * 4
    assert rows[1]["below"] == "2" and rows[1]["worst_x"] == "16" and rows[0]["map"] == ""
    assert rows[4]["second"].endswith("bad \ufffd\ufffd.bmp") and rows[5]["second"].endswith("\x01\n.bmp")
    cases = check_junit(junit, 7, 5, 0)
    assert cases[3].get("name").endswith("quote\"', comma.bmp") and cases[1].find("failure") is not None
    # A control character is no XML character: it stands as U+FFFD; the line break is kept.
    assert cases[5].get("name").endswith("control \ufffd\n.bmp")
    # Nor is U+FFFF, though UTF-8 may hold it.
    assert cases[6].get("name").endswith("U+FFFF \ufffd.bmp") and rows[6]["second"].endswith("\uffff.bmp")
    # The map has the levels likeness-map draws.
    drawn = os.path.join(folder, b"drawn.bmp")
    subprocess.run([LIKENESS_MAP, first, seconds[0], drawn], capture_output=True, check=True)
    same = subprocess.run([LIKENESS, rows[1]["map"].encode(), drawn], capture_output=True)
    assert same.stdout == b"SSIM: 1.000000\n", same.stdout
    assert sorted(os.listdir(maps)) == sorted(
        os.fsencode(os.path.basename(r["map"])) for r in rows if r["pass"] == "false")


def check_junit(path, tests, failures, errors):
    """The test cases of a JUnit report whose counts, on both elements, are those given."""
    root = ElementTree.parse(path).getroot()
    suite = root.find("testsuite")
    counts = [tuple(int(e.get(key)) for key in ("tests", "failures", "errors")) for e in (root, suite)]
    assert counts == [(tests, failures, errors)] * 2, counts
    return suite.findall("testcase")


def check_folders_and_lists(folder):
    """Folder pairing in text, pair lists with malformed lines, input order under many jobs."""
    left, right = os.path.join(folder, b"left"), os.path.join(folder, b"right")
    for side, names in ((left, [b"b.BMP", b"sub/a.bmp", b"only-left.bmp"]),
                        (right, [b"b.BMP", b"sub/a.bmp", b"only-right.png"])):
        for name in names:
            os.makedirs(os.path.dirname(os.path.join(side, name)), exist_ok=True)
            shutil.copy(crafted(b"blocks-second.bmp"), os.path.join(side, name))
    out, _, status = run(left, right)
    lines = out.decode().splitlines()
    assert status == 2 and lines[-1] == "4 pairs: 2 passed, 0 failed, 2 not compared (metric blocks)", lines
    assert "missing second" in lines[2] and "missing first" in lines[3] and "sub/a.bmp" in lines[4]
    pairs = [crafted(b"blocks-first.bmp"), crafted(b"blocks-second.bmp")]
    lines = [b"\t".join(pairs if i % 3 else pairs[::-1]) for i in range(150)]
    lines += [b"no tab", b"\t" + pairs[0], pairs[0] + b"\t", b"a\tb\tc\td", b"a\t\tc"]
    out, _, status = run(b"--jobs", b"9", b"--format", b"json", b"--pairs", b"-",
                         stdin=b"\n".join(lines) + b"\n")
    got = records(out)
    # A malformed line's paths are its text before the first tab and after it.
    path = pairs[0].decode()
    assert status == 2 and [(r["first"], r["second"], r["error"]) for r in got[150:]] == [
        (*paths, "malformed line")
        for paths in (("no tab", ""), ("", path), (path, ""), ("a", "b\tc\td"), ("a", "\tc"))]
    assert [r["first"].encode() for r in got[:150]] == [line.split(b"\t")[0] for line in lines[:150]]
    pair_list = os.path.join(folder, b"pairs.tsv")
    with open(pair_list, "wb") as stream:
        stream.write(b"\n".join(lines[:150]) + b"\n")
    return pair_list, b"".join(out.splitlines(keepends=True)[:150])


def check_trouble(folder):
    """Failing and incomparable pairs in one run, an empty pair with every map asked for; reports
    and maps that cannot be written; a negative ceiling on compressed pictures."""
    first, second = crafted(b"blocks-first.bmp"), crafted(b"blocks-second.bmp")
    odd, empty = crafted(b"grey12x8.bmp"), crafted(b"grey0x0.bmp")
    maps, junit = os.path.join(folder, b"all-maps"), os.path.join(folder, b"trouble.xml")
    pairs = [(first, second), (odd, odd), (empty, empty), (second, second)]
    out, err, status = run(b"--format=json", b"--min-block", b"0.5", b"--maps", maps, b"--all-maps",
                           b"--junit", junit, b"--pairs", b"-",
                           stdin=b"".join(a + b"\t" + b + b"\n" for a, b in pairs))
    got = records(out)
    assert (status, err) == (2, b"") and [r["error"] for r in got] == [None, "not divisible", None, None]
    assert list(got[2].values()) == [empty.decode(), empty.decode(), "blocks", None, None, 0, 0, None,
                                     0, True, None, None, None, None], got[2]
    assert sorted(os.listdir(maps)) == [os.path.basename(got[i]["map"]).encode() for i in (0, 3)]
    check_junit(junit, 4, 1, 1)
    blocked = os.path.join(folder, b"blocked")
    os.makedirs(os.path.join(blocked, b"000001-blocks-first.bmp.png"))
    for arguments in ([b"--junit", b"/dev/full"], [b"--junit", os.path.join(folder, b"no", b"r.xml")],
                      [b"--maps", blocked, b"--all-maps"]):
        assert run(*arguments, first, first)[2] == 2, arguments
    # Only 0 lifts the ceiling (a bomb is then refused by the decoder, -30, not the ceiling).
    bomb = crafted(b"png-bomb.png")
    for value, code in (("-1", -10), ("-0", -10), ("0", -30)):
        out, _, _ = run(b"--format=json", bomb, bomb, env=dict(os.environ, LIKENESS_MAX_PIXELS=value))
        assert records(out)[0]["code"] == code, value


def check_slow_pipe(folder):
    """A pipe whose writer is slower than the reader: every format reads whole all the same."""
    fifo = os.path.join(folder, b"slow")
    os.mkfifo(fifo)
    for name in (crafted(b"blocks-second.bmp"), crafted(b"jpeg-segments-across-chunks.jpg"),
                 os.path.join(DATA, b"written", b"blocks-first.png")):
        with open(name, "rb") as stream:
            data = stream.read()
        # Held open before the program opens it, which would otherwise find no writer and an empty
        # file; opened for reading too, so that opening does not wait for the program.
        pipe = os.open(fifo, os.O_RDWR)
        child = subprocess.Popen([CHECK, b"--format=json", fifo, name], stdout=subprocess.PIPE)
        cuts = [0, 1, len(data) // 3, len(data) * 2 // 3, len(data)]
        for start, end in zip(cuts, cuts[1:]):
            time.sleep(0.05)
            os.write(pipe, data[start:end])
        # A pipe whose last writer has gone is empty: it is let go only once the program has
        # opened it and read what it holds.
        while struct.unpack("i", fcntl.ioctl(pipe, termios.FIONREAD, b"\0" * 4))[0] > 0:
            time.sleep(0.01)
        os.close(pipe)
        out, _ = child.communicate(timeout=60)
        assert child.returncode == 0 and records(out)[0]["ssim"] == 1, (name, out)


def pgm(path, width, height, black):
    """A grey PGM file, white but for the black pixels."""
    levels = bytearray([255] * (width * height))
    for x, y in black:
        levels[y * width + x] = 0
    with open(path, "wb") as stream:
        stream.write(b"P5 %d %d 255\n" % (width, height) + levels)
    return path


def rgba_png(path, width, height, black):
    """An RGBA PNG file of transparent white pixels but for the black ones, left opaque."""
    rows = b""
    for y in range(height):
        rows += b"\0" + b"".join(b"\0\0\0\xff" if (x, y) in black else b"\xff\xff\xff\0"
                                 for x in range(width))
    chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                struct.pack(">I", zlib.crc32(kind + data)))
    with open(path, "wb") as stream:
        stream.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
                     + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    return path


def check_ignored_and_colour(folder):
    """Rectangles, masks in a file and in a pair list's third field, alpha unread; colour by channel."""
    first, second = crafted(b"blocks-first.bmp"), crafted(b"blocks-second.bmp")
    whole = records(run(b"--format=json", first, second)[0])[0]
    assert (whole["worst"]["x"], whole["blocks"], whole["ignored"]) == (16, 6, 0)
    # The worst block's corner pixel, by rectangle, by a PGM mask and by an RGBA PNG mask.
    pixel = pgm(os.path.join(folder, b"pixel.pgm"), 24, 16, [(16, 7)])
    png = rgba_png(os.path.join(folder, b"pixel.png"), 24, 16, [(16, 7)])
    # (options, blocks ignored): rectangles clipped at the edge, overlapping ones counted once.
    for options, ignored in (([b"--ignore", b"16,7,1,1"], 1), ([b"--mask", pixel], 1),
                             ([b"--mask", png], 1),
                             ([b"--ignore=17,7,99,9", b"--ignore", b"8,0,9,1"], 3)):
        out, _, status = run(b"--format=json", b"--min-block", b"0", *options, first, second)
        got = records(out)[0]
        assert status == 0 and (got["blocks"], got["ignored"]) == (6 - ignored, ignored), got
        assert got["worst"]["x"] != 16 and got["ssim"] != whole["ssim"], got
    corner = pgm(os.path.join(folder, b"corner.pgm"), 24, 16, [(0, 0)])
    small = pgm(os.path.join(folder, b"small.pgm"), 16, 16, [])
    lines = [first + b"\t" + second + b"\t" + name for name in (corner, small, b"none.pgm")]
    out, _, status = run(b"--format=csv", b"--mask", pixel, b"--pairs", b"-",
                         stdin=b"\n".join([first + b"\t" + second] + lines) + b"\n")
    rows = list(csv.DictReader(io.StringIO(out.decode(), newline="")))
    assert status == 2 and [(r["ignored"], r["error"], r["code"]) for r in rows] == [
        ("1", "", ""), ("2", "", ""), ("", "mask size", ""), ("", "cannot read mask", "-1")], rows
    # Every pair of a run whose mask cannot be read.
    out, _, status = run(b"--format=json", b"--mask", b"none.pgm", first, second, second, cwd=folder)
    assert status == 2 and [r["error"] for r in records(out)] == ["cannot read mask"] * 2
    colour = crafted(b"colour16x16.bmp")
    out, _, status = run(b"--format=json", b"--colour", colour, colour, first)
    got = records(out)
    assert status == 2 and got[0]["channels"] == {"r": 1, "g": 1, "b": 1} and got[0]["ssim"] == 1
    assert got[1]["error"] == "sizes differ" and got[1]["channels"] is None
    out, _, _ = run(b"--format=csv", b"--colour", first, second)
    row = next(csv.DictReader(io.StringIO(out.decode(), newline="")))
    assert row["ssim_r"] == row["ssim_g"] == row["ssim_b"] == row["ssim"] == str(whole["ssim"])


def check_usage_errors(folder):
    for arguments in ([b"--colour", b"--luma", b"a", b"b"], [b"--ignore", b"0,0,0,1", b"a", b"b"],
                      [b"--ignore", b"-1,0,1,1", b"a", b"b"], [b"--ignore", b"1,2,3", b"a", b"b"],
                      [b"--mask"],[b"--bogus", b"a", b"b"], [b"--min-mean", b"x", b"a", b"b"], [b"a"],
                      [b"--jobs", b"0", b"a", b"b"], [b"--pairs", folder], [b"--all-maps", b"a", b"b"],
                      [b"--pairs", os.path.join(folder, b"none.tsv")], [b"--pairs", b"-"],
                      [b"--metric", b"ssim", b"a", b"b"], [b"--metric=Wang", b"a", b"b"]):
        out, err, status = run(*arguments)
        assert (out, status) == (b"", 2) and b"Usage: likeness-check" in err, arguments


def check_sharding(pair_list, expected):
    """The example of docs/ci.md: the list sharded with GNU parallel over hosts (here, this one)."""
    merged = pair_list + b".jsonl"
    environment = dict(os.environ, LIKENESS_CHECK=CHECK)
    done = subprocess.run([SHARD, pair_list, merged, b":"], env=environment, timeout=120)
    with open(merged, "rb") as stream:
        assert done.returncode == 0 and stream.read() == expected


def main():
    with tempfile.TemporaryDirectory() as name:
        folder = os.fsencode(name)
        first, seconds = check_pairs_and_errors(folder)
        check_verdicts_and_reports(folder, first, seconds)
        pair_list, out = check_folders_and_lists(folder)
        check_trouble(folder)
        check_slow_pipe(folder)
        check_ignored_and_colour(folder)
        check_usage_errors(folder)
        check_sharding(pair_list, out)
        # Nothing was written outside --maps and --junit.
        assert b"maps" in os.listdir(folder) and not os.path.exists(b"maps")


main()
