"""The emulated processor as a child process of a test harness, on loopback only.

Shared by the Octave runner, the installed-package test and the Python package's tests.
"""
import contextlib
import os
import socket
import subprocess
import time


class NotLoopback(Exception):
    """A network setting names something other than a loopback network."""


def loopback_env():
    """The environment with both networks set, defaulting to loopback; refuses any other."""
    env = dict(os.environ)
    env.setdefault("KEST_WIRED_NET", "127.0.42")
    env.setdefault("KEST_WIRELESS_NET", "127.0.43")
    for name in ("KEST_WIRED_NET", "KEST_WIRELESS_NET"):
        if not env[name].startswith("127."):
            raise NotLoopback(f"refusing to run: {name}={env[name]} is not a loopback network")
    return env


def control(port, command, timeout=5):
    """Sends one line to paxsim's control channel and returns the answer line."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(command.encode() + b"\n")
        answer = b""
        while not answer.endswith(b"\n"):
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
    return answer.decode().strip()


def wait_for_control(port, deadline):
    """True once the control channel answers, False when the monotonic deadline passes."""
    while time.monotonic() < deadline:
        try:
            if control(port, "time", timeout=0.5).startswith("ok"):
                return True
        except OSError:
            time.sleep(0.05)
    return False


@contextlib.contextmanager
def running_paxsim(binary, env, port_base, mode="both", extra=(), wait=60):
    """Starts paxsim on the port base with its control channel at port base + 10, waits until
    it answers (raising RuntimeError with its standard error when it does not), yields the
    control port, and stops paxsim again."""
    control_port = port_base + 10
    process = subprocess.Popen(
        [binary, "--mode", mode, "--quiet", "--wired-net", env["KEST_WIRED_NET"],
         "--wireless-net", env["KEST_WIRELESS_NET"], "--port-base", str(port_base),
         "--control-port", str(control_port)] + list(extra),
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        if not wait_for_control(control_port, time.monotonic() + wait):
            process.kill()
            raise RuntimeError("paxsim did not come up:\n" + process.communicate()[1])
        yield control_port
    finally:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
