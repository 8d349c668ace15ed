"""Starts the emulated processor on loopback for the kestpy tests.

The test command passes paxsim's path in KEST_PAXSIM, the library in KESTPY_LIBRARY and the
port base in KEST_PORT_BASE; paxsim gets a control channel at port base + 10, and the tests
drive it through the `paxctl` fixture. Emulated operators answer at hosts 130 and 131 of the
wired network. Refuses to run unless both networks are loopback.
"""
import os
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from paxsim_process import NotLoopback, control, loopback_env, running_paxsim  # noqa: E402,F401

import kestpy  # noqa: E402


def _loopback_env():
    try:
        env = loopback_env()
    except NotLoopback as refused:
        pytest.exit(str(refused))
    os.environ.update({k: env[k] for k in ("KEST_WIRED_NET", "KEST_WIRELESS_NET")})
    return env


def wait_until(condition, what, deadline=20.0):
    """Polls `condition` until it returns something true; fails after a generous deadline."""
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    pytest.fail(f"timed out waiting for {what}")


@pytest.fixture(scope="session")
def paxctl():
    """A running paxsim; calling the fixture sends a control command and returns the answer."""
    env = _loopback_env()
    paxsim = env.get("KEST_PAXSIM")
    if not paxsim:
        pytest.exit("KEST_PAXSIM must name the paxsim binary")
    port_base = int(env.setdefault("KEST_PORT_BASE", "52600"))
    extra = ["--spike-rate", "0", "--digital-rate", "0", "--operators", "130,131"]
    try:
        with running_paxsim(paxsim, env, port_base, extra=extra, wait=10) as control_port:
            yield lambda command: control(control_port, command)
    except RuntimeError as failed:
        pytest.fail(str(failed))


@pytest.fixture(params=["udp", "tcp"])
def pax(request, paxctl):
    """An open connection over each transport; closed again after the test."""
    with kestpy.Processor(request.param) as processor:
        yield processor
