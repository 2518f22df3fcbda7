#!/usr/bin/python3
"""Times likeness.ssim(metric="wang") against scikit-image's structural_similarity in the same
setting (Gaussian window of 1.5, population covariance, data range 255) on one pair in memory.

    PYTHONPATH=build/default/python bench/metrics.py FIRST SECOND ROUNDS

Reads both files with likeness.read, then runs both, once each, in ROUNDS alternating rounds and
prints their medians in seconds (scikit-image's first) and the two means.
"""
import statistics
import sys
import time

from skimage.metrics import structural_similarity

import likeness


def seconds(work):
    start = time.perf_counter()
    value = work()
    return time.perf_counter() - start, value


def main(first, second, rounds):
    a, b = likeness.read(first), likeness.read(second)
    theirs, ours = [], []
    for _ in range(rounds):
        elapsed, reference = seconds(lambda: structural_similarity(
            a, b, gaussian_weights=True, sigma=1.5, use_sample_covariance=False, data_range=255))
        theirs.append(elapsed)
        elapsed, mean = seconds(lambda: likeness.ssim(a, b, metric="wang"))
        ours.append(elapsed)
    print(statistics.median(theirs), statistics.median(ours), reference, mean)


main(sys.argv[1], sys.argv[2], int(sys.argv[3]))
