"""cmake --install puts the module where the interpreter finds it."""

import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest


def test_the_installed_module_imports(tmp_path):
    build, cmake = os.environ.get("TIKO_BUILD_DIR"), os.environ.get("CMAKE_COMMAND")
    if not build or not cmake:
        pytest.skip("not run from the build (TIKO_BUILD_DIR, CMAKE_COMMAND)")
    # Staged under DESTDIR, in the interpreter's own site folder.
    install = subprocess.run([cmake, "--install", build, "--component", "python"], capture_output=True, text=True,
                             env=dict(os.environ, DESTDIR=str(tmp_path)))
    assert install.returncode == 0, install.stderr
    site = tmp_path / Path(sysconfig.get_path("platlib")).relative_to("/")
    modules = list(site.glob("tiko.*.so"))
    assert len(modules) == 1, list(tmp_path.rglob("*"))
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["PYTHONPATH"] = str(site)
    run = subprocess.run([sys.executable, "-c", "import tiko; print(tiko.__file__); tiko.Player"],
                         capture_output=True, text=True, env=env, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert Path(run.stdout.strip()) == modules[0]
