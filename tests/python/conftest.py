"""Starts the emulated processor on loopback for the kestpy tests.

The test command passes paxsim's path in KEST_PAXSIM, the library in KESTPY_LIBRARY and the
port base in KEST_PORT_BASE; paxsim gets a control channel at port base + 10, and the tests
drive it through the `paxctl` fixture. Emulated operators answer at hosts 130 and 131 of the
wired network. Refuses to run unless both networks are loopback.
"""
import os
import socket
import subprocess
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))

import kestpy  # noqa: E402


def _loopback_env():
    env = dict(os.environ)
    env.setdefault("KEST_WIRED_NET", "127.0.42")
    env.setdefault("KEST_WIRELESS_NET", "127.0.43")
    for name in ("KEST_WIRED_NET", "KEST_WIRELESS_NET"):
        if not env[name].startswith("127."):
            pytest.exit(f"refusing to run: {name}={env[name]} is not a loopback network")
    os.environ.update({k: env[k] for k in ("KEST_WIRED_NET", "KEST_WIRELESS_NET")})
    return env


def control(port, command):
    """Sends one line to paxsim's control channel and returns the answer line."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(command.encode() + b"\n")
        answer = b""
        while not answer.endswith(b"\n"):
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
    return answer.decode().strip()


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
    control_port = port_base + 10
    process = subprocess.Popen(
        [paxsim, "--mode", "both", "--quiet", "--spike-rate", "0", "--digital-rate", "0",
         "--wired-net", env["KEST_WIRED_NET"], "--wireless-net", env["KEST_WIRELESS_NET"],
         "--port-base", str(port_base), "--control-port", str(control_port),
         "--operators", "130,131"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)

    def answers():
        try:
            return control(control_port, "time").startswith("ok")
        except OSError:
            return False

    try:
        wait_until(answers, "paxsim's control channel", deadline=10)
        yield lambda command: control(control_port, command)
    finally:
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


@pytest.fixture(params=["udp", "tcp"])
def pax(request, paxctl):
    """An open connection over each transport; closed again after the test."""
    with kestpy.Processor(request.param) as processor:
        yield processor
