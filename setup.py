"""The Python package sarvik, for pip: the pure-Python files of python/sarvik and
the extension sarvik._core, which CMake builds from the library's sources
(CMakeLists.txt, SARVIK_PYTHON=ON) for the interpreter running pip.

    /usr/bin/python3 -m pip install --no-build-isolation --break-system-packages .

Needs CMake, a C++20 compiler, pybind11-dev and python3-dev; the package itself
needs numpy, scipy, scikit-learn and RDKit (Debian's python3-numpy,
python3-scipy, python3-sklearn, python3-rdkit), which pip is not asked to fetch.
"""
import os
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


def version():
    with open(os.path.join(HERE, "CMakeLists.txt")) as f:
        return re.search(r"project\(Sarvik VERSION ([0-9.]+)", f.read()).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Builds the extension with CMake and copies it where setuptools wants it."""

    def build_extension(self, ext):
        build = os.path.abspath(self.build_temp)
        subprocess.run(["cmake", "-S", HERE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                        "-DSARVIK_PYTHON=ON", "-DSARVIK_TESTS=OFF",
                        "-DPython_EXECUTABLE=" + sys.executable], check=True)
        subprocess.run(["cmake", "--build", build, "--target", "sarvik_python",
                        "-j", os.environ.get("JOBS", str(os.cpu_count() or 1))], check=True)
        name = os.path.basename(self.get_ext_filename(ext.name))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        self.copy_file(os.path.join(build, "python", "sarvik", name), target)


setup(
    name="sarvik",
    version=version(),
    description="Exact fragment descriptors of compound collections",
    packages=["sarvik"],
    package_dir={"": "python"},
    ext_modules=[CMakeExtension("sarvik._core")],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    zip_safe=False,
)
