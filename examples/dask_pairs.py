#!/usr/bin/env python3
"""Compares pairs of image files on a Dask cluster, one task per pair.

    python3 examples/dask_pairs.py SCHEDULER PAIRS.txt

SCHEDULER is the address of a cluster's scheduler (tcp://host:8786) or "local" for a cluster of
two workers on this machine; PAIRS.txt names two files a line. Prints each pair's likeness line.
"""
import sys

import likeness


def likeness_line(first, second):
    """The line `likeness FIRST SECOND` prints for two grey files."""
    return "SSIM: %f" % likeness.ssim(likeness.read(first), likeness.read(second))


def compare_pairs(client, pairs):
    """Each (first, second) pair's likeness line, in order, computed on the client's cluster."""
    firsts, seconds = zip(*pairs) if pairs else ((), ())
    return client.gather(client.map(likeness_line, firsts, seconds, pure=False))


def main(scheduler, list_path):
    from dask.distributed import Client, LocalCluster

    with open(list_path) as listing:
        pairs = [tuple(line.split()) for line in listing if line.strip()]
    cluster = LocalCluster(n_workers=2, threads_per_worker=1) if scheduler == "local" else None
    with Client(cluster or scheduler) as client:
        for (first, second), line in zip(pairs, compare_pairs(client, pairs)):
            print(first, second, line)


if __name__ == "__main__":
    main(*sys.argv[1:3])
