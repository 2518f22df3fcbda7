"""What likeness-check draws and writes for a reviewer, read back by Python's own zlib and
html.parser: difference pictures, the HTML report's folder, the progress line on a terminal, and
files that are whole or absent when the disk fills.

check_pictures_test.py CHECK LIKENESS_MAP DATA
"""
import html.parser
import json
import os
import pty
import random
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import zlib

CHECK, LIKENESS_MAP, DATA = [os.fsencode(a) for a in sys.argv[1:4]]
FIRST = os.path.join(DATA, b"crafted", b"blocks-first.bmp")
SECOND = os.path.join(DATA, b"crafted", b"blocks-second.bmp")


def size_limit(limit):
    """For preexec_fn: files may grow to limit bytes, and a write past it fails with EFBIG, as on
    a full disk, instead of ending the program with SIGXFSZ."""
    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return limited


def run(*arguments, limit=None):
    done = subprocess.run([CHECK, *arguments], capture_output=True, timeout=120,
                          preexec_fn=size_limit(limit) if limit else None)
    return done.stdout, done.stderr, done.returncode


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def png(path):
    """The colour type and rows of pixels (tuples) of an 8-bit PNG file without interlacing."""
    with open(path, "rb") as stream:
        data = stream.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and interlace == 0
        elif kind == b"IDAT":
            idat += body
    channels = {0: 1, 2: 3}[colour]
    raw, stride, rows = zlib.decompress(idat), width * channels, []
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a, b = line[i - channels] if i >= channels else 0, previous[i]
            c = previous[i - channels] if i >= channels else 0
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 255
        rows.append([tuple(line[x * channels:(x + 1) * channels]) for x in range(width)])
        previous = line
    return colour, rows


def block_of(x, y):
    return y // 8 * 3 + x // 8


def check_difference_pictures(folder):
    """The second picture, lightened, its blocks below the bound in red (without a bound the worst
    alone), the worst outlined; the HTML report's copies of both pictures; a passing pair gets
    none without --all-maps."""
    diffs, report = os.path.join(folder, b"diffs"), os.path.join(folder, b"report")
    out, err, status = run(b"--format=json", b"--min-block", b"0.5", b"--diffs", diffs, b"--html",
                           report, FIRST, SECOND, FIRST)
    failed, passed = [json.loads(line) for line in out.splitlines()]
    assert (status, err, passed["diff"]) == (1, b"", None)
    assert os.listdir(diffs) == [b"000001-blocks-second.bmp.png"]
    colour, drawn = png(failed["diff"].encode())
    _, second = png(os.path.join(report, b"000001-blocks-second.bmp-second.png"))
    _, first = png(os.path.join(report, b"000001-blocks-second.bmp-first.png"))
    _, copied = png(os.path.join(report, b"000001-blocks-second.bmp-diff.png"))
    assert colour == 2 and len(drawn) == 16 and len(drawn[0]) == 24
    assert copied == drawn and first != second
    worst = block_of(failed["worst"]["x"], failed["worst"]["y"])
    red = set()
    for y, row in enumerate(drawn):
        for x, (r, g, b) in enumerate(row):
            level = second[y][x][0]
            border = x % 8 in (0, 7) or y % 8 in (0, 7)
            if (r, g, b) == (0, 0, 0) and block_of(x, y) == worst and border:
                continue
            if r != g:
                red.add(block_of(x, y))
                assert g == b and r >= 255 - (255 - level) * 2 // 5 - 1, (x, y, r, g, b)
            else:
                assert r == g == b == 255 - ((255 - level) * 2 + 2) // 5, (x, y, r, g, b, level)
    assert len(red) == failed["below"] == 2 and worst in red
    out, _, status = run(b"--format=json", b"--diffs", diffs, b"--all-maps", FIRST, FIRST)
    assert status == 0 and json.loads(out)["diff"].endswith("000001-blocks-first.bmp.png")
    # Failed on its mean alone: the worst block alone is red.
    out, _, status = run(b"--format=json", b"--min-mean", b"0.9", b"--diffs", diffs, FIRST, SECOND)
    _, drawn = png(json.loads(out)["diff"].encode())
    assert status == 1 and {block_of(x, y) for y, row in enumerate(drawn)
                            for x, (r, g, _) in enumerate(row) if r != g} == {worst}


class Page(html.parser.HTMLParser):
    """The rows' verdicts and every address the page names."""

    def __init__(self):
        super().__init__()
        self.addresses, self.verdicts, self.cell = [], [], None

    def handle_starttag(self, tag, attributes):
        attributes = dict(attributes)
        for key in ("src", "href", "data-first", "data-second"):
            if key in attributes:
                self.addresses.append(attributes[key])
        if attributes.get("class") == "verdict":
            self.cell = "verdict"  # its text may lie in a link inside

    def handle_data(self, data):
        if self.cell == "verdict":
            self.verdicts.append(data)
            self.cell = None


def check_html_report(folder):
    """Every address in the page is a file of its folder or a place in the page."""
    expected, rendered = os.path.join(folder, b"expected"), os.path.join(folder, b"rendered")
    for side in (expected, rendered):
        os.makedirs(side)
    for name, first, second in ((b"same.bmp", FIRST, FIRST), (b"changed <&\xff>.bmp", FIRST, SECOND),
                                (b"other.bmp", SECOND, FIRST)):
        for side, source in ((expected, first), (rendered, second)):
            with open(os.path.join(side, name), "wb") as stream, open(source, "rb") as data:
                stream.write(data.read())
    with open(os.path.join(expected, b"lonely.bmp"), "wb") as stream:
        stream.write(b"BM")
    report = os.path.join(folder, b"html")
    _, _, status = run(b"--min-block", b"0.5", b"--html", report, expected, rendered)
    page = Page()
    with open(os.path.join(report, b"index.html"), encoding="utf-8") as stream:
        text = stream.read()
    page.feed(text)
    assert status == 2 and page.verdicts == ["FAIL", "FAIL", "not compared", "pass"], page.verdicts
    assert "changed &lt;&amp;\ufffd&gt;.bmp" in text
    for address in page.addresses:
        inside = os.path.isfile(os.path.join(report, address.encode()))
        assert address.startswith("#pair-") or inside, address
    assert len([a for a in page.addresses if a.endswith(".png")]) == 2 * 6
    assert sorted(os.listdir(report)) == sorted([b"index.html"] + [
        b"00000%d-%s.bmp-%s.png" % (number, name, kind)
        for number, name in ((1, b"changed_____"), (3, b"other"))
        for kind in (b"first", b"second", b"diff")])


def on_terminal(*arguments, records_too=False):
    """The status, and what a terminal shows of standard error (and output, with records_too)."""
    parent, child = pty.openpty()
    done = subprocess.run([CHECK, *arguments], stdout=child if records_too else subprocess.PIPE,
                          stderr=child, timeout=60)
    os.close(child)
    shown = b""
    try:
        while chunk := os.read(parent, 4096):
            shown += chunk
    except OSError:  # the terminal's other side has closed
        pass
    os.close(parent)
    return done.returncode, shown


def check_progress(folder):
    """On a terminal, one line rewritten in place and cleared at the end; elsewhere nothing."""
    status, shown = on_terminal(FIRST, SECOND, FIRST, SECOND)
    assert status == 0 and shown.startswith(b"\rlikeness-check: 1 of 3 pairs"), shown
    assert b"\rlikeness-check: 3 of 3 pairs, " in shown and shown.endswith(b"\x1b[K\r\x1b[K"), shown
    assert b"\n" not in shown
    assert run(FIRST, SECOND)[1] == b""
    # With the records on the same terminal, each starts on a line of its own: the progress line
    # is cleared (or drawn again) before anything else is written.
    status, shown = on_terminal(FIRST, SECOND, FIRST, SECOND, records_too=True)
    lines = [line for line in shown.split(b"\r\n") if b".bmp" in line]
    assert status == 0 and len(lines) == 3, shown
    assert all(line.rsplit(b"\r\x1b[K", 1)[-1].startswith(b"pass ") for line in lines), lines
    assert shown.count(b"pairs/s\x1b[K") == shown.count(b"pairs/s\x1b[K\r"), shown


def noise(path, seed):
    """A 256 x 256 PGM file of random levels: its pictures hardly compress."""
    levels = random.Random(seed).randbytes(256 * 256)
    with open(path, "wb") as stream:
        stream.write(b"P5 256 256 255\n" + levels)


def check_whole_or_absent(folder):
    """A file that cannot be written to its end is not there, an earlier one stays as it was, and
    the run's status says so."""
    place = os.path.join(folder, b"full")
    os.makedirs(os.path.join(place, b"diffs"))
    a, b = os.path.join(place, b"a.pgm"), os.path.join(place, b"b.pgm")
    noise(a, 1)
    noise(b, 2)
    earlier = {os.path.join(place, name): b"earlier"
               for name in (b"report.xml", b"diffs/000001-b.pgm.png", b"map.bmp")}
    for path, content in earlier.items():
        with open(path, "wb") as stream:
            stream.write(content)
    # Each picture of the noise pair passes 60 kB, the JUnit and HTML reports of 200 pairs 20 kB.
    _, err, status = run(b"--min-mean", b"0.9", b"--diffs", os.path.join(place, b"diffs"), b"--junit",
                         os.path.join(place, b"report.xml"), b"--html", os.path.join(place, b"html"),
                         a, b, *[a] * 200, limit=20000)
    assert status == 2 and err.count(b"likeness-check: cannot write ") == 6, err
    done = subprocess.run([LIKENESS_MAP, a, b, os.path.join(place, b"map.bmp")], capture_output=True,
                          preexec_fn=size_limit(20000))
    assert done.returncode == 1
    for path, content in earlier.items():
        with open(path, "rb") as stream:
            assert stream.read() == content, path
    left = [name for _, _, names in os.walk(place) for name in names]
    assert sorted(left) == [b"000001-b.pgm.png", b"a.pgm", b"b.pgm", b"map.bmp", b"report.xml"], left


def main():
    with tempfile.TemporaryDirectory() as name:
        folder = os.fsencode(name)
        check_difference_pictures(folder)
        check_html_report(folder)
        check_progress(folder)
        check_whole_or_absent(folder)


main()
