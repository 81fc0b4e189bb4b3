"""Builds the varnolt package: its extension over libvarnolt, and the
national directory beside it.

By default the library's sources are compiled into the extension, so that
the wheel stands alone. VARNOLT_LINK=shared links the installed
libvarnolt.so instead (the Debian package), with VARNOLT_LIBRARY_DIR where
it is found before installation."""
import os
import re
import shutil
import sys
from glob import glob

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

ROOT = os.path.dirname(os.path.abspath(__file__))
VERSION = re.search(r"^project\(Varnolt VERSION ([0-9.]+)", open(os.path.join(ROOT, "CMakeLists.txt")).read(),
                    re.M).group(1)
SHARED = os.environ.get("VARNOLT_LINK") == "shared"


def core_sources():
    files = []
    for layer in ("base", "keys", "directory", "exchange", "answer"):
        files += sorted(glob(os.path.join(layer, "*.cpp"), root_dir=ROOT))
    platform = "platform_win32.cpp" if sys.platform == "win32" else "platform_posix.cpp"
    return files + ["platform/platform_seams.cpp", "platform/whole_file.cpp", "platform/" + platform, "lib/varnolt.cpp"]


class BuildExt(build_ext):
    def build_extensions(self):
        # lib/varnolt.cpp takes its version from the header CMake writes.
        generated = os.path.join(self.build_temp, "generated")
        os.makedirs(generated, exist_ok=True)
        with open(os.path.join(generated, "version.h"), "w") as header:
            header.write('#pragma once\n#define VARNOLT_VERSION_TEXT "%s"\n' % VERSION)
        for extension in self.extensions:
            extension.include_dirs.append(generated)
        super().build_extensions()


class BuildPy(build_py):
    def run(self):
        super().run()
        # The national directory, and the notice its numbering data asks for.
        for name in ("Varnolt.dat", "NOTICE"):
            shutil.copyfile(os.path.join(ROOT, "data", name), os.path.join(self.build_lib, "varnolt", name))


# No build folder may reach the binary, so that builds in two places are the
# same; the wheel carries no debugging sections, Debian's keep theirs for its
# -dbgsym package.
flags = ["-std=c++20", "-fvisibility=hidden", "-ffile-prefix-map=%s/=" % ROOT] + ([] if SHARED else ["-g0"])
if SHARED:
    extension = Extension("varnolt._varnolt", ["python/_varnolt.cpp"], include_dirs=[ROOT], libraries=["varnolt"],
                          library_dirs=[os.environ["VARNOLT_LIBRARY_DIR"]] if "VARNOLT_LIBRARY_DIR" in os.environ
                          else [], extra_compile_args=flags, language="c++")
else:
    extension = Extension("varnolt._varnolt", ["python/_varnolt.cpp"] + core_sources(), include_dirs=[ROOT],
                          define_macros=[("VARNOLT_STATIC", None)], extra_compile_args=flags, language="c++")

setup(version=VERSION, ext_modules=[extension], cmdclass={"build_ext": BuildExt, "build_py": BuildPy})
