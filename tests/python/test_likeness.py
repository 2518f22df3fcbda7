"""The module against the programs and the reader's expected results, and its refusals."""
import math
import os
import pathlib
import platform
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy
import pytest

import likeness
import json
import subprocess

from conftest import CHECK_TOOL, DATA, MAP_TOOL, TOOL, tool_line


def fnv1a64(data):
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) % 2**64
    return "%016x" % value


def expected_reads():
    with open(DATA / "expected.txt") as listing:
        for line in listing:
            fields = line.split()
            if fields and not line.startswith("#"):
                pixels = fields[2] if len(fields) > 2 else "*"
                # Pixels listed for one processor ("@x86_64") are compared on it alone.
                pixels, _, processor = pixels.partition("@")
                if processor and processor != platform.machine():
                    pixels = "*"
                yield fields[0], int(fields[1]), pixels


@pytest.mark.parametrize("name,code,pixels", list(expected_reads()))
def test_read_gives_the_listed_pixels_or_refusal(name, code, pixels):
    path = DATA / name
    if code != 0:
        kind = likeness.CannotOpenError if code == -1 else likeness.ImageFileError
        with pytest.raises(kind) as refusal:
            likeness.read(path)
        assert refusal.value.code == code
        return
    array = likeness.read(path)
    if pixels.startswith("="):
        assert array.tobytes().hex() == pixels[1:]
    elif pixels.startswith("fnv:"):
        assert fnv1a64(array.tobytes()) == pixels[4:]


def test_ssim_block_scores_and_write_bmp_match_the_programs(pairs, tmp_path):
    for first, second in pairs:
        a, b = likeness.read(first), likeness.read(second)
        assert "SSIM: %f" % likeness.ssim(a, b) == tool_line(first, second)
        scores = likeness.block_scores(a, b)
        assert sum(scores.ravel().tolist()) / scores.size == likeness.ssim(a, b)
        tool_line(first, second, tmp_path / "map.bmp", program=MAP_TOOL)
        levels = numpy.rint(255 * numpy.clip(scores, 0, 1)).astype(numpy.uint8)
        likeness.write_bmp(tmp_path / "mine.bmp", levels.repeat(8, 0).repeat(8, 1))
        assert (tmp_path / "mine.bmp").read_bytes() == (tmp_path / "map.bmp").read_bytes()
    colour = numpy.arange(2 * 5 * 3, dtype=numpy.uint8).reshape(2, 5, 3)[:, ::-1]
    likeness.write_bmp(os.fsencode(tmp_path / "colour.bmp"), colour)
    assert numpy.array_equal(likeness.read(tmp_path / "colour.bmp"), colour)


def test_any_layout_scores_as_its_compact_copy(tmp_path):
    levels = numpy.random.default_rng(21).integers(0, 256, (160, 96, 2), dtype=numpy.uint8)
    a = levels[::2, :, 0]  # rows and columns apart: copied once
    b = numpy.asfortranarray(levels[:80, :, 1] // 2 + 60)[::-1]  # columns apart, rows reversed
    likeness.write_bmp(tmp_path / "a.bmp", a)
    likeness.write_bmp(tmp_path / "b.bmp", b)
    line = tool_line(tmp_path / "a.bmp", tmp_path / "b.bmp")
    a.flags.writeable = b.flags.writeable = False
    for x, y in [(a, b), (a.copy(), b.copy()), (memoryview(a.copy()), b.T.copy().T)]:
        assert "SSIM: %f" % likeness.ssim(x, y) == line
        assert likeness.ssim(x, y) == likeness.ssim(a.copy(), b.copy())
    wide = levels[:32, :40, 0].copy()  # rows 40 bytes apart: scored where they lie
    assert likeness.ssim(wide[:, :16], wide[:, 8:24]) == likeness.ssim(
        wide[:, :16].copy(), wide[:, 8:24].copy()
    )


def test_an_empty_pair_has_no_mean():
    empty = numpy.zeros((0, 0), numpy.uint8)
    assert math.isnan(likeness.ssim(empty, empty))
    assert likeness.block_scores(empty, empty).shape == (0, 0)


def test_arguments_that_cannot_be_compared_say_why():
    grey = numpy.zeros((16, 8), numpy.uint8)
    cases = [
        (grey.astype(numpy.float64), grey, TypeError, "not uint8"),
        (grey, grey.astype(numpy.int8), TypeError, "second array"),
        ([[0] * 8] * 8, grey, TypeError, ""),
        (numpy.zeros((16, 8, 3), numpy.uint8) + numpy.arange(3, dtype=numpy.uint8), grey,
         ValueError, "colour picture"),
        (numpy.zeros((16, 8, 4), numpy.uint8), grey, ValueError, "shape (16, 8, 4)"),
        (grey, grey[:8], ValueError, "shapes differ: (16, 8) and (8, 8)"),
        (grey[:12], grey[4:], ValueError, "not multiples of 8"),
    ]
    for a, b, kind, words in cases:
        for function in (likeness.ssim, likeness.block_scores):
            with pytest.raises(kind, match=words.replace("(", r"\(").replace(")", r"\)")):
                function(a, b)
    with pytest.raises(TypeError):
        likeness.write_bmp("never.bmp", grey.astype(numpy.uint16))


def test_files_that_cannot_be_opened_are_os_errors(tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        likeness.read(tmp_path / "missing.bmp")
    assert (missing.value.code, missing.value.errno) == (-1, 2)
    assert missing.value.filename == tmp_path / "missing.bmp"
    assert isinstance(missing.value, likeness.CannotOpenError)
    with pytest.raises(IsADirectoryError) as folder:
        likeness.read(tmp_path)
    assert (folder.value.code, folder.value.errno) == (-1, 21)
    with pytest.raises(OSError) as unwritable:
        likeness.write_bmp(tmp_path / "no" / "map.bmp", numpy.zeros((8, 8), numpy.uint8))
    assert isinstance(unwritable.value, FileNotFoundError)


def test_threads_share_arrays_and_get_the_same_scores(pairs):
    arrays = [(likeness.read(a), likeness.read(b)) for a, b in pairs] * 50
    expected = [likeness.ssim(a, b) for a, b in arrays]
    with ThreadPoolExecutor(8) as pool:
        runs = [pool.submit(lambda: [likeness.ssim(a, b) for a, b in arrays]) for _ in range(8)]
    assert [run.result() for run in runs] == [expected] * 8


def resident_bytes():
    return int(pathlib.Path("/proc/self/statm").read_text().split()[1]) * os.sysconf("SC_PAGESIZE")


def test_ten_thousand_calls_keep_no_reference_or_memory(pairs):
    a, b = likeness.read(pairs[0][0]), likeness.read(pairs[0][1])
    counts = (sys.getrefcount(a), sys.getrefcount(b))
    for _ in range(1000):  # warm-up: allocator pools reach their steady size
        likeness.read(pairs[0][0])
    before = resident_bytes()
    for _ in range(10000):
        likeness.ssim(a, b)
        likeness.block_scores(a, b)
        likeness.read(pairs[0][0])  # 4 KiB a picture: 40 MB if pictures were kept
    assert (sys.getrefcount(a), sys.getrefcount(b)) == counts
    assert resident_bytes() - before < 8 << 20



def outcome_of_arrays(first, second):
    """The verdict of ssim(read(first), read(second)): the mean, or the kind of refusal."""
    try:
        a, b = likeness.read(first), likeness.read(second)
    except likeness.Error as refusal:
        return ("cannot read", refusal.code)
    try:
        return ("mean", likeness.ssim(a, b))
    except ValueError:
        return ("refused", None)


def test_every_way_of_comparing_gives_the_same_verdict_and_bits():
    """likeness, likeness-check, compare() and ssim() of the arrays read agree on every pair of
    neighbouring test files, both ways round."""
    names = [name for name, _, _ in expected_reads()]
    for first, second in zip(names, names[1:] + names[:1]):
        for a, b in ((DATA / first, DATA / second), (DATA / second, DATA / first)):
            line = subprocess.run([TOOL, a, b], capture_output=True).stdout
            record = json.loads(subprocess.run([CHECK_TOOL, "--format=json", a, b],
                                               capture_output=True).stdout.splitlines()[0])
            try:
                mean = likeness.compare(a, b)
            except likeness.Error as refusal:
                assert outcome_of_arrays(a, b) == ("cannot read", refusal.code), (a, b)
                assert record["code"] == refusal.code and not line.startswith(b"SSIM"), (a, b)
                continue
            except ValueError:
                assert outcome_of_arrays(a, b) == ("refused", None), (a, b)
                assert "error" in record and not line.startswith(b"SSIM"), (a, b)
                continue
            arrays = outcome_of_arrays(a, b)[1]
            assert math.isnan(mean) and math.isnan(arrays) or mean == arrays, (a, b)
            assert line.decode() == "SSIM: %f\n" % mean, (a, b)
            assert record["ssim"] is None if math.isnan(mean) else record["ssim"] == mean, (a, b)


def check_json(*arguments):
    done = subprocess.run([CHECK_TOOL, "--format=json", *map(str, arguments)], capture_output=True)
    return json.loads(done.stdout)


def test_a_mask_leaves_out_the_blocks_it_touches_as_likeness_check_does(tmp_path):
    rng = numpy.random.default_rng(5)
    a = rng.integers(0, 256, (24, 32), dtype=numpy.uint8)
    b = numpy.clip(a.astype(int) + rng.integers(-40, 40, a.shape), 0, 255).astype(numpy.uint8)
    mask = numpy.zeros(a.shape, bool)
    mask[7, 8] = mask[23, 31] = True  # a block's bottom-left corner, the last block's last pixel
    likeness.write_bmp(tmp_path / "a.bmp", a)
    likeness.write_bmp(tmp_path / "b.bmp", b)
    # The tool's mask is black where the array's is True.
    likeness.write_bmp(tmp_path / "mask.bmp", numpy.where(mask, 0, 255).astype(numpy.uint8))
    record = check_json("--mask", tmp_path / "mask.bmp", tmp_path / "a.bmp", tmp_path / "b.bmp")
    scores = likeness.block_scores(a, b, mask=mask)
    assert numpy.isnan(scores).tolist() == [[False, True, False, False], [False] * 4,
                                            [False, False, False, True]]
    assert (record["blocks"], record["ignored"]) == (10, 2)
    assert likeness.ssim(a, b, mask=mask) == record["ssim"] == numpy.nanmean(scores)
    assert numpy.array_equal(scores[~numpy.isnan(scores)],
                             likeness.block_scores(a, b)[~numpy.isnan(scores)])
    # A strided view reads as its copy; a mask of every pixel leaves no mean.
    assert likeness.ssim(a, b, mask=numpy.asfortranarray(mask)) == record["ssim"]
    assert math.isnan(likeness.ssim(a, b, mask=numpy.ones(a.shape, bool)))
    for wrong, kind in ((mask.astype(numpy.uint8), TypeError), (mask[:, :, None], TypeError),
                        (mask[:16], ValueError), (mask.T, ValueError)):
        with pytest.raises(kind):
            likeness.ssim(a, b, mask=wrong)


def test_colour_scores_each_channel_and_takes_the_lowest(tmp_path):
    rng = numpy.random.default_rng(8)
    a = rng.integers(0, 256, (16, 24, 3), dtype=numpy.uint8)
    b = a.copy()
    b[:8, :8, 2] //= 2  # blue alone, in one block
    with pytest.raises(ValueError):
        likeness.ssim(a, b)
    likeness.write_bmp(tmp_path / "a.bmp", a)
    likeness.write_bmp(tmp_path / "b.bmp", b)
    record = check_json("--colour", tmp_path / "a.bmp", tmp_path / "b.bmp")
    scores = likeness.block_scores(a, b, colour=True)
    blue = likeness.block_scores(a[:, :, 2].copy(), b[:, :, 2].copy())
    assert record["channels"]["r"] == record["channels"]["g"] == 1 > record["channels"]["b"]
    assert likeness.ssim(a, b, colour=True) == record["ssim"] == record["channels"]["b"]
    assert scores[0, 0] == blue[0, 0] < 1 and (scores.ravel()[1:] == 1).all()
    grey = a[:, :, :1].repeat(3, 2)
    assert likeness.ssim(grey, grey[::-1].copy(), colour=True) == likeness.ssim(grey, grey[::-1].copy())
