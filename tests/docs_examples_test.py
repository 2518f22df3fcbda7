"""Runs the examples that README.md and docs/*.md mark as runnable, and follows the pages' links,
so that a page cannot go stale.

docs_examples_test.py SOURCE PROGRAMS PYTHONPATH LIBRARY CXX

A fenced block whose info string is "sh runnable" runs in bash (-e, -o pipefail), one whose info
string is "python runnable" in this interpreter, and one whose info string is "cpp runnable" is
built with CXX against the static LIBRARY and run on the example pair; "status=N" after it expects
that exit status instead of 0. A "text output" block right after one holds what it must print, byte for byte.
Each runs in a scratch folder holding a copy of examples/, with the built programs (PROGRAMS) on
PATH and the Python module (PYTHONPATH) importable.
Every relative link of those pages, ARCHITECTURE.md, DEVELOPERS.md and bench/README.md must name
a file of the project, and its #part a heading of that page.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE, PROGRAMS, MODULE, LIBRARY = [os.path.abspath(a) for a in sys.argv[1:5]]
CXX = sys.argv[5]
PAIR = ["examples/original.bmp", "examples/coarse.bmp"]
BLOCK = re.compile(r"^```([^\n]*)\n(.*?)^```\n(\s*```text output\n(.*?)^```$)?", re.M | re.S)
LINK = re.compile(r"\]\(([^)\s]+)\)")


def examples(path):
    """The runnable blocks of a page: (line, language, expected status, text, expected output)."""
    with open(path, encoding="utf-8") as page:
        text = page.read()
    runnable = []
    for block in BLOCK.finditer(text):
        words = block.group(1).split()
        if "runnable" in words[1:]:
            line = text.count("\n", 0, block.start()) + 1
            assert words[0] in ("sh", "python", "cpp"), f"{path}:{line}: cannot run '{words[0]}'"
            status = [int(w[7:]) for w in words if w.startswith("status=")] or [0]
            runnable.append((line, words[0], status[0], block.group(2), block.group(4)))
    return runnable


def anchor(heading):
    """The part name a Markdown renderer gives a heading, as GitHub makes it."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def broken_links(page):
    """The relative links of a page whose file or heading does not exist."""
    with open(page, encoding="utf-8") as stream:
        text = stream.read()
    broken = []
    for target in LINK.findall(text):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, part = target.partition("#")
        linked = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if not os.path.exists(linked):
            broken.append(target)
        elif part:
            with open(linked, encoding="utf-8") as stream:
                headings = [anchor(line.lstrip("#")) for line in stream if line.startswith("#")]
            if part not in headings:
                broken.append(target)
    return [f"{os.path.relpath(page, SOURCE)}: no {target}" for target in broken]


def run(language, text, folder):
    # "python3" in a shell example is this interpreter, for which the module was built.
    path = os.pathsep.join([PROGRAMS, os.path.dirname(sys.executable), os.environ["PATH"]])
    environment = dict(os.environ, PATH=path,
                       PYTHONPATH=MODULE, PYTHONDONTWRITEBYTECODE="1", LC_ALL="C.UTF-8")
    if language == "cpp":
        with open(os.path.join(folder, "example.cpp"), "w", encoding="utf-8") as source:
            source.write(text)
        # The libraries the build's own pkg-config file names, every format built in among them.
        with open(os.path.join(PROGRAMS, "likeness.pc"), encoding="utf-8") as pc:
            modules = next(line for line in pc if line.startswith("Requires:")).split()[1:]
        libraries = subprocess.run(["pkg-config", "--libs", *modules], check=True,
                                   capture_output=True, text=True).stdout.split()
        built = subprocess.run([CXX, "-std=c++20", "-Wall", "-Wextra", "-Werror", "-I",
                                os.path.join(SOURCE, "include"), "example.cpp", "-o", "example",
                                LIBRARY, *libraries, "-pthread"], cwd=folder, capture_output=True)
        if built.returncode != 0:
            return built
    commands = {"sh": ["bash", "-e", "-o", "pipefail", "-c", text],
                "python": [sys.executable, "-c", text], "cpp": ["./example", *PAIR]}
    return subprocess.run(commands[language], cwd=folder, env=environment, capture_output=True,
                          timeout=120)


def main():
    pages = [os.path.join(SOURCE, "README.md"), *sorted(glob.glob(os.path.join(SOURCE, "docs", "*.md")))]
    failures, count = [], 0
    for page in pages:
        for line, language, status, text, output in examples(page):
            count += 1
            where = f"{os.path.relpath(page, SOURCE)}:{line}"
            with tempfile.TemporaryDirectory() as folder:
                shutil.copytree(os.path.join(SOURCE, "examples"), os.path.join(folder, "examples"))
                done = run(language, text, folder)
            if done.returncode != status:
                failures.append(f"{where}: exit status {done.returncode}, not {status}\n"
                                f"{done.stdout.decode(errors='replace')}{done.stderr.decode(errors='replace')}")
            elif output is not None and done.stdout != output.encode():
                failures.append(f"{where}: printed\n{done.stdout.decode(errors='replace')}"
                                f"instead of\n{output}")
    for page in [*pages, *(os.path.join(SOURCE, name) for name in
                           ("ARCHITECTURE.md", "DEVELOPERS.md", os.path.join("bench", "README.md")))]:
        failures += broken_links(page)
    print(f"{count} examples; {len(failures)} failures")
    for failure in failures:
        print(failure, file=sys.stderr)
    # A page that marks nothing runnable would pass without checking anything.
    sys.exit(1 if failures or count == 0 else 0)


main()
