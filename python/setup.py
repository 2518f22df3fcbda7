"""Builds likeness._core with the project's own CMake build, so that pip installs the library code
compiled exactly as the programs' (the vector kernels take options of their own)."""
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                     "-DBUILD_TESTING=OFF", "-DLIKENESS_PYTHON=ON",
                     f"-DPython_EXECUTABLE={sys.executable}"]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build, "--target", "likeness_python", "-j2"],
                       check=True)
        built = next((build / "python/likeness").glob("_core*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[Extension("likeness._core", sources=[])], cmdclass={"build_ext": CMakeBuild})
