"""Each SSIM that metric= names against the tool that defines it, on scikit-image's own pictures
and their JPEG copies: scikit-image itself, ffmpeg (plain C path) and a NumPy model of ssim.m."""
import json
import math
import re
import subprocess

import numpy
import pytest
import skimage.data
from numpy.lib.stride_tricks import sliding_window_view
from PIL import Image
from skimage.metrics import structural_similarity

import likeness
from conftest import CHECK_TOOL

METRICS = ["blocks", "wang", "wang-scaled", "ffmpeg", "skimage"]


def grey(picture):
    """A colour picture's green levels, a grey one as it is."""
    return numpy.ascontiguousarray(picture if picture.ndim == 2 else picture[:, :, 1])


# Sides below and above 256 and 512, odd and even, so that ssim.m's f is 1, 2 and 3.
PICTURES = {
    "camera": lambda: skimage.data.camera(),  # 512 x 512, f = 2
    "camera-odd": lambda: skimage.data.camera()[:511, 2:],  # 511 x 510
    "coins": lambda: skimage.data.coins()[:, :383],  # 303 x 383, f = 1
    "page": lambda: skimage.data.page(),  # 191 x 384, f = 1
    "hubble": lambda: grey(skimage.data.hubble_deep_field())[:871, :999],  # f = 3
    "coffee": lambda: grey(skimage.data.coffee())[:399, :],  # 399 x 600, f = 2
}


@pytest.fixture(scope="module")
def copies(tmp_path_factory):
    """For each picture: its levels, its JPEG copy (quality 30) as our reader reads it, and PNG
    files of both, for the programs."""
    folder = tmp_path_factory.mktemp("metrics")
    made = {}
    for name, picture in PICTURES.items():
        original = picture()
        Image.fromarray(original).save(folder / f"{name}.jpg", quality=30)
        copy = likeness.read(folder / f"{name}.jpg")
        files = (folder / f"{name}.png", folder / f"{name}-jpeg.png")
        Image.fromarray(original).save(files[0])
        Image.fromarray(copy).save(files[1])
        made[name] = (original, copy, files)
    return made


def wang_setting(a, b):
    return structural_similarity(a, b, gaussian_weights=True, sigma=1.5,
                                 use_sample_covariance=False, data_range=255)


def ssim_m(a, b):
    """ssim.m of Wang et al.: the mean and the local map, written from its MATLAB text."""
    a, b = a.astype(numpy.float64), b.astype(numpy.float64)
    f = max(1, math.floor(min(a.shape) / 256 + 0.5))
    if f > 1:
        # imfilter(img, ones(f) / f^2, 'symmetric', 'same'): the kernel's origin is its tap
        # floor((f + 1) / 2), counted from 1; then img(1:f:end, 1:f:end).
        before = (f + 1) // 2 - 1
        def box(picture):
            padded = numpy.pad(picture, ((before, f - 1 - before),) * 2, mode="symmetric")
            rows, columns = picture.shape
            total = sum(padded[i:i + rows, j:j + columns] for i in range(f) for j in range(f))
            return (total / f**2)[::f, ::f]
        a, b = box(a), box(b)
    # fspecial('gaussian', 11, 1.5), normalised; filter2(window, img, 'valid').
    x = numpy.arange(-5, 6)
    window = numpy.exp(-(x[:, None] ** 2 + x[None, :] ** 2) / (2 * 1.5**2))
    window /= window.sum()
    def filter2(picture):
        return numpy.einsum("ijkl,kl->ij", sliding_window_view(picture, (11, 11)), window)
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    mu1, mu2 = filter2(a), filter2(b)
    sigma1 = filter2(a * a) - mu1 * mu1
    sigma2 = filter2(b * b) - mu2 * mu2
    sigma12 = filter2(a * b) - mu1 * mu2
    local = ((2 * mu1 * mu2 + c1) * (2 * sigma12 + c2)
             / ((mu1 * mu1 + mu2 * mu2 + c1) * (sigma1 + sigma2 + c2)))
    return local.mean(), local, f


def ffmpeg_y(first, second):
    """The Y value ffmpeg's ssim filter prints for two files, in its plain C path."""
    done = subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-cpuflags", "0", "-i", first,
                           "-i", second, "-lavfi", "ssim", "-f", "null", "-"],
                          capture_output=True, text=True, check=True)
    return re.search(r"SSIM Y:(\d\.\d{6}) ", done.stderr).group(1)


@pytest.mark.parametrize("name", PICTURES)
def test_each_metric_agrees_with_its_reference(copies, name):
    a, b, files = copies[name]
    for pair in ((a, b), (b, a), (a, a)):
        assert abs(likeness.ssim(*pair, metric="skimage") - structural_similarity(*pair)) < 1e-9
        assert abs(likeness.ssim(*pair, metric="wang") - wang_setting(*pair)) < 1e-9
        assert abs(likeness.ssim(*pair, metric="wang-scaled") - ssim_m(*pair)[0]) < 1e-9
    # The sixth decimal, as ffmpeg prints it: its float index is within 1e-7 of ours.
    ours = likeness.ssim(a, b, metric="ffmpeg")
    theirs = ffmpeg_y(*files)
    assert abs(ours - float(theirs)) <= 5e-7 + 1e-7, (ours, theirs)
    assert likeness.ssim(a, a, metric="ffmpeg") == 1.0 and ffmpeg_y(files[0], files[0]) == "1.000000"


def test_the_numbers_of_the_camera_pair_differ_as_the_tools_do(copies):
    # The camera picture and its JPEG copy: four tools, four numbers.
    a, b, _ = copies["camera"]
    values = {metric: likeness.ssim(a, b, metric=metric) for metric in METRICS}
    assert len(set(round(v, 4) for v in values.values())) == 5, values
    assert values["wang"] < values["skimage"] < values["ffmpeg"], values


@pytest.mark.parametrize("name", ["camera-odd", "hubble"])
def test_local_scores_lie_where_their_windows_do(copies, name):
    a, b, files = copies[name]
    height, width = a.shape
    model, local, f = ssim_m(a, b)
    shapes = {"blocks": None, "wang": (height - 10, width - 10), "skimage": (height - 6, width - 6),
              "ffmpeg": (height // 4 - 1, width // 4 - 1), "wang-scaled": local.shape}
    for metric, shape in shapes.items():
        if metric == "blocks":
            continue
        scores = likeness.block_scores(a, b, metric=metric)
        assert scores.shape == shape, metric
        # The mean is the scores' sum in row order over their count.
        assert sum(scores.ravel().tolist()) / scores.size == likeness.ssim(a, b, metric=metric)
        mean, with_scores = likeness.compare(*files, blocks=True, metric=metric)
        assert mean == likeness.ssim(a, b, metric=metric)
        assert numpy.array_equal(with_scores, scores)
    assert numpy.abs(likeness.block_scores(a, b, metric="wang-scaled") - local).max() < 1e-9
    # likeness-check names the worst window by its top-left pixel in the picture: for wang-scaled
    # the kept pixel's place times f.
    for metric, step in (("wang-scaled", f), ("wang", 1), ("ffmpeg", 4), ("skimage", 1)):
        scores = likeness.block_scores(a, b, metric=metric)
        row, column = numpy.unravel_index(numpy.argmin(scores), scores.shape)
        bound = numpy.sort(scores.ravel())[9]
        out = subprocess.run([CHECK_TOOL, "--format=json", "--metric", metric, "--min-block",
                              repr(bound), *map(str, files)], capture_output=True)
        record = json.loads(out.stdout)
        assert out.returncode == 1
        assert record["metric"] == metric and record["ssim"] == likeness.ssim(a, b, metric=metric)
        assert record["blocks"] == scores.size and record["below"] == 9
        assert record["worst"] == {"x": int(column) * step, "y": int(row) * step,
                                   "ssim": scores.min()}, metric


def test_sides_each_metric_takes_and_the_names():
    level = numpy.full((11, 11), 7, numpy.uint8)
    assert likeness.ssim(level, level, metric="wang") == 1.0
    for metric, side in (("wang", 11), ("wang-scaled", 11), ("skimage", 7), ("ffmpeg", 8)):
        small = level[: side - 1, :side]
        with pytest.raises(ValueError, match="too small"):
            likeness.ssim(small, small, metric=metric)
        with pytest.raises(ValueError, match="too small"):
            likeness.block_scores(small.T, small.T, metric=metric)
    odd = level[:, :9]
    with pytest.raises(ValueError, match="multiples of 8"):
        likeness.ssim(odd, odd)
    with pytest.raises(ValueError, match="no metric is named 'Wang'"):
        likeness.ssim(level, level, metric="Wang")


def test_likeness_check_says_too_small_and_names_the_metric(copies, tmp_path):
    _, _, files = copies["page"]
    small = tmp_path / "small.png"
    Image.fromarray(numpy.zeros((10, 400), numpy.uint8)).save(small)
    pairs = f"{small}\t{small}\n{files[0]}\t{files[1]}\n"
    out = subprocess.run([CHECK_TOOL, "--metric=wang", "--format=csv", "--pairs", "-"],
                         input=pairs, capture_output=True, text=True)
    rows = out.stdout.splitlines()
    assert out.returncode == 2 and rows[1] == f"{small},{small},wang,,,,,,,,,,,false,,,too small,"
    assert rows[2].startswith(f"{files[0]},{files[1]},wang,0.")
    text = subprocess.run([CHECK_TOOL, "--metric", "skimage", *files], capture_output=True,
                          text=True)
    assert text.stdout.splitlines()[-1] == "1 pairs: 1 passed, 0 failed, 0 not compared (metric skimage)"
