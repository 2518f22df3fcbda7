"""likeness-check as a reviewer and a CI job meet it: the progress line on a terminal, and files
that are whole or absent when the disk fills.

check_terminal_test.py CHECK LIKENESS_MAP DATA
"""
import os
import pty
import random
import resource
import signal
import subprocess
import sys
import tempfile

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
               for name in (b"report.xml", b"diffs/000001-b.pgm-diff.png", b"map.bmp")}
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
    assert sorted(left) == [b"000001-b.pgm-diff.png", b"a.pgm", b"b.pgm", b"map.bmp", b"report.xml"], left


def main():
    with tempfile.TemporaryDirectory() as name:
        folder = os.fsencode(name)
        check_progress(folder)
        check_whole_or_absent(folder)


main()
