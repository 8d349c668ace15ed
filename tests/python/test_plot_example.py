"""The plotting example runs against the emulated processor and writes a PNG."""
import os
import subprocess
import sys

import pytest

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "python", "examples",
                       "plot_cont.py")


def test_plot_cont_writes_a_png(paxctl, tmp_path):
    pytest.importorskip("matplotlib")
    output = tmp_path / "cont.png"
    run = subprocess.run([sys.executable, EXAMPLE, str(output)], capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert "raw: 4 x 30000 samples" in run.stdout
    assert "lfp: 4 x " in run.stdout
    assert output.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
