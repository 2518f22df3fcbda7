#!/usr/bin/python3
"""Times the Python module against the C++ library on the same files, and against scikit-image.

    bench/python.py [RUNS]

Builds build/default (without running the tests), makes a 4096 x 4096 and an 8192 x 8192 pair
with make_pair, then prints medians over RUNS runs (9 by default): likeness.ssim against
meanSSIM on the 4096 pair, against skimage.metrics.structural_similarity, two threads against one,
and likeness.read against readImageFile on the 8192 file. Measure on an idle machine.
"""
import pathlib
import statistics
import subprocess
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build/default"


def build():
    need = ["cmake", "g++", "make", "pkgconf", "libspng-dev", "libgtest-dev", "python3-dev",
            "pybind11-dev", "python3-numpy", "python3-skimage"]
    subprocess.run([ROOT / "scripts/need", *need], check=True)
    subprocess.run(["cmake", "--preset", "default"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2"], check=True, stdout=subprocess.DEVNULL)


def pair(side):
    files = [BUILD / f"bench/{name}-{side}.bmp" for name in ("first", "second")]
    if not all(path.exists() for path in files):
        subprocess.run([BUILD / "bench/make_pair", str(side), *files], check=True)
    return files


def median_seconds(runs, work):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def library_times(first, second, runs):
    """The C++ reader's and meanSSIM's medians on the same files."""
    out = subprocess.run([BUILD / "bench/time_library", first, second, str(runs)],
                         capture_output=True, text=True, check=True).stdout
    return {key: float(value) for key, value in (line.split() for line in out.splitlines())}


def in_threads(count, calls, work):
    """Seconds for count threads each running work calls times."""
    threads = [threading.Thread(target=lambda: [work() for _ in range(calls)])
               for _ in range(count)]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start


def process_scaling(first, second, runs):
    """What two C++ processes on the same work gain over one: the most two threads can gain now."""
    command = [BUILD / "bench/time_library", first, second, str(runs)]

    def seconds(count):
        start = time.perf_counter()
        for process in [subprocess.Popen(command, stdout=subprocess.DEVNULL)
                        for _ in range(count)]:
            process.wait()
        return time.perf_counter() - start

    return 2 * seconds(1) / seconds(2)


def main(runs):
    build()
    sys.path.insert(0, str(BUILD / "python"))
    global likeness
    import likeness

    first, second = pair(4096)
    a, b = likeness.read(first), likeness.read(second)
    cpp = library_times(first, second, runs)
    mine = median_seconds(runs, lambda: likeness.ssim(a, b))
    print(f"4096 x 4096 ssim: Python {mine * 1e3:.2f} ms, C++ meanSSIM {cpp['ssim'] * 1e3:.2f} ms,"
          f" ratio {mine / cpp['ssim']:.3f}")
    assert "%f" % likeness.ssim(a, b) == "%f" % cpp["mean"]

    for side, calls in ((4096, 20), (1024, 320)):
        x, y = map(likeness.read, pair(side))
        one = statistics.median(in_threads(1, 2 * calls, lambda: likeness.ssim(x, y))
                                for _ in range(runs))
        two = statistics.median(in_threads(2, calls, lambda: likeness.ssim(x, y))
                                for _ in range(runs))
        print(f"{side} x {side}, {2 * calls} comparisons: two threads {one / two:.2f}x as fast as one"
              f" (two C++ processes {process_scaling(*pair(side), calls):.2f}x one)")

    from skimage.metrics import structural_similarity
    skimage = median_seconds(3, lambda: structural_similarity(a, b, data_range=255))
    print(f"skimage structural_similarity: {skimage * 1e3:.0f} ms, {skimage / mine:.0f}x likeness")

    big, _ = pair(8192)
    cpp = library_times(big, big, runs)
    mine = median_seconds(runs, lambda: likeness.read(big))
    print(f"8192 x 8192 read: Python {mine * 1e3:.2f} ms, C++ readImageFile "
          f"{cpp['read'] * 1e3:.2f} ms, ratio {mine / cpp['read']:.3f}")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 9)
