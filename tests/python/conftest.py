# Where the tests find the programs and the data: set by CTest, or the default build folder.
import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
DATA = pathlib.Path(os.environ.get("LIKENESS_TEST_DATA", SOURCE / "tests/data"))
BUILD = SOURCE / "build/default"
TOOL = os.environ.get("LIKENESS_EXE", str(BUILD / "likeness"))
MAP_TOOL = os.environ.get("LIKENESS_MAP_EXE", str(BUILD / "likeness-map"))
CHECK_TOOL = os.environ.get("LIKENESS_CHECK_EXE", str(BUILD / "likeness-check"))


# What a program prints for these arguments, as text (the result line is ASCII).
def tool_line(*arguments, program=TOOL):
    run = subprocess.run([program, *map(str, arguments)], capture_output=True, check=True)
    return run.stdout.decode("ascii").rstrip("\n")


# Comparable pairs of files with several blocks and varied scores.
@pytest.fixture
def pairs():
    crafted = DATA / "crafted"
    return [
        (SOURCE / "examples/original.bmp", SOURCE / "examples/coarse.bmp"),
        (crafted / "blocks-first.bmp", crafted / "blocks-second.bmp"),
        (crafted / "grey16x8.bmp", crafted / "grey16x8.bmp"),
    ]
