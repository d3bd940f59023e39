"""Failures: each the command line's message as a Python exception, the
transformer left as it was; Ctrl-C stops a long fit within a second."""
import os
import signal
import threading
import time

import pytest

import sarvik
from conftest import DATA, cli


def broken_files(tmp_path):
    sd = open(os.path.join(DATA, "cdk2.sdf")).read()
    (tmp_path / "b.sdf").write_text(sd + "bad\n\n\n  2  1\n    0.0000    0.0000    0.0000 C   0\n"
                                    "    0.0000    0.0000    0.0000 C   0\n  1  3  1\n$$$$\n")
    mol2 = open(os.path.join(DATA, "cdk2.mol2")).read()
    (tmp_path / "b.mol2").write_text(mol2[:len(mol2) // 2].rsplit("\n", 3)[0] + "\n")
    return ["b.sdf", "b.mol2"]


def test_malformed_files_and_spaces_raise_the_command_lines_message(reference, tmp_path):
    fd = sarvik.FragmentDescriptors(lmax=3).fit(reference["sd"][0])
    fitted = fd.space_
    for name in broken_files(tmp_path):
        said = cli(tmp_path, "-lmax", 3, str(tmp_path / name), status=1)
        with pytest.raises(sarvik.Error) as caught:
            fd.fit(str(tmp_path / name))
        assert said.endswith(str(caught.value) + "\n")
        assert caught.value.kind == "input" and caught.value.compound is not None
        assert fd.space_ is fitted
    # A space made with other lengths: the message of -dspace with these.
    frag = reference["sd"][2]
    said = cli(tmp_path, "-lmax", 4, "-dspace", frag, reference["sd"][0], status=1)
    with pytest.raises(sarvik.Error) as caught:
        sarvik.FragmentDescriptors.from_space(frag, lmax=4)
    assert said.endswith(str(caught.value) + "\n") and "outside the lengths" in said
    with pytest.raises(OSError, match="can't"):
        fd.save_space(tmp_path / "no" / "such" / "folder.sdf")


def test_ctrl_c_stops_a_long_fit_and_leaves_the_transformer(reference):
    fd = sarvik.FragmentDescriptors(lmax=3).fit(reference["sd"][0])
    fitted, n = fd.space_, fd.n_features_out_
    fd.set_params(lmax=12, n_jobs=2)
    for delay in (0.1, 1.0):
        timer = threading.Timer(delay, os.kill, (os.getpid(), signal.SIGINT))
        started = time.monotonic()
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            fd.fit(reference["sd"][0])
        assert time.monotonic() - started < delay + 1.0
        assert fd.space_ is fitted and fd.n_features_out_ == n
