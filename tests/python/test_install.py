"""`cmake --install` puts the package where this interpreter looks under
the prefix, whole: the installed copy imports and works on its own."""

import os
import subprocess
import sys

import pytest

import tonbrix


def installed_package(destdir, prefix):
    """Installs the build under DESTDIR/prefix; the folder of the package."""
    # cmake is not built with the sanitizers; with their runtimes preloaded
    # (the ASan build's tests) it hangs.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(["cmake", "--install", os.environ["TONBRIX_BUILD_DIR"], "--prefix", prefix],
                   env=dict(env, DESTDIR=str(destdir)), check=True,
                   stdout=subprocess.DEVNULL)
    found = [os.path.join(root) for root, dirs, files in os.walk(str(destdir))
             if os.path.basename(root) == "tonbrix" and "__init__.py" in files]
    assert len(found) == 1, found
    return found[0]


@pytest.mark.parametrize("prefix", ["/usr/local", "/usr"])
def test_installed_package_is_on_the_interpreters_path(tmp_path, prefix):
    package = installed_package(tmp_path, prefix)
    site = os.path.dirname(package)
    # Without PYTHONPATH the interpreter looks in that folder once the
    # files are really under the prefix.
    clean = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    search = subprocess.run([sys.executable, "-c", "import sys; print('\\n'.join(sys.path))"],
                            env=clean, capture_output=True, text=True, check=True).stdout
    assert site[len(str(tmp_path)):] in search.splitlines()
    files = set(os.listdir(package))
    assert {"__init__.py", "__init__.pyi", "py.typed"} <= files
    assert any(f.startswith("_tonbrix.") and f.endswith(".so") for f in files)
    # The installed copy works without the build tree.
    code = ("import tonbrix, tonbrix.distributed; print(tonbrix.__file__); "
            "print(tonbrix.describe('http://lv2plug.in/plugins/eg-amp')['name'])")
    done = subprocess.run([sys.executable, "-c", code], env=dict(clean, PYTHONPATH=site),
                          capture_output=True, text=True, cwd=str(tmp_path), check=True)
    where, name = done.stdout.splitlines()
    assert where == os.path.join(package, "__init__.py")
    assert name == tonbrix.describe("http://lv2plug.in/plugins/eg-amp")["name"]
