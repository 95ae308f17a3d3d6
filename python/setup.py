"""setup.py: builds libmervalt-engine.so with the repository's CMake release preset and ships it inside the package."""
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
# The library is shipped as one file under its SONAME: a wheel cannot hold the
# symbolic links that the build tree has beside it.
SHIPPED_NAME = "libmervalt-engine.so.0"


def run(command):
    """Runs a build command in the repository root; its output is shown only when it fails."""
    result = subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout)
        raise SystemExit("mervalt: '%s' failed with status %d" % (" ".join(command), result.returncode))


def build_engine():
    """Builds the engine library (a no-op when the release build is up to date) and returns its path."""
    if not (ROOT / "CMakePresets.json").is_file() or not (ROOT / "include" / "mervalt_engine.h").is_file():
        raise SystemExit("mervalt: the package builds from the mervalt repository; %s is not its root" % ROOT)
    run(["cmake", "--preset", "release"])
    run(["cmake", "--build", "--preset", "release", "--target", "mervalt_engine"])
    library = ROOT / "build" / "release" / SHIPPED_NAME
    if not library.exists():
        raise SystemExit("mervalt: the build did not produce %s" % library)
    return library


class BuildPyWithEngine(build_py):
    """The pure-Python files, then the engine library copied beside them."""

    def run(self):
        super().run()
        target = Path(self.build_lib) / "mervalt" / SHIPPED_NAME
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(build_engine(), target)  # follows the links to the real file
        target.chmod(0o755)


class BinaryDistribution(Distribution):
    """A wheel for this platform: the package carries a compiled library."""

    def has_ext_modules(self):
        return True


setup(cmdclass={"build_py": BuildPyWithEngine}, distclass=BinaryDistribution)
