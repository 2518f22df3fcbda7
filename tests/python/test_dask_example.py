# The Dask example of docs/python.md on a local cluster of two workers: the tool's line for every pair.
import sys

from conftest import SOURCE, tool_line


def test_pairs_compared_on_a_cluster_give_the_tools_lines(pairs):
    from dask.distributed import Client, LocalCluster

    sys.path.insert(0, str(SOURCE / "examples"))
    import dask_pairs
    pairs = [(str(a), str(b)) for a, b in pairs * 4]
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        lines = dask_pairs.compare_pairs(client, pairs)
    assert lines == [tool_line(a, b) for a, b in pairs]
