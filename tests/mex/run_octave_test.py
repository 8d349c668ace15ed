#!/usr/bin/env python3
"""Runs one Octave script against an emulated processor on loopback.

Starts paxsim on the test's own port base with a control channel, waits until it answers,
runs the script in octave-cli with the kestmex module and the test helpers on the path, and
stops paxsim again. The test passes when Octave exits with status 0 (and, with --quiet-exit,
writes nothing to standard error). Refuses to run unless both networks are loopback.
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from paxsim_process import NotLoopback, loopback_env, running_paxsim  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--octave", required=True)
    parser.add_argument("--paxsim", required=True)
    parser.add_argument("--mex-dir", required=True)
    parser.add_argument("--port-base", type=int, required=True)
    parser.add_argument("--script", required=True)
    parser.add_argument("--quiet-exit", action="store_true",
                        help="fail when Octave writes anything to standard error")
    parser.add_argument("--preload", default="",
                        help="a sanitizer runtime that Octave loads ahead of the module")
    parser.add_argument("--repeat", type=int, default=1,
                        help="run the script this many times in one Octave session")
    parser.add_argument("--timeout", type=float, default=240)
    parser.add_argument("--expect", default="",
                        help="fail unless Octave's standard output matches this regular "
                        "expression (an example's summary line)")
    parser.add_argument("paxsim_args", nargs="*")
    args = parser.parse_args()

    try:
        env = loopback_env()
    except NotLoopback as refused:
        sys.exit(str(refused))
    env["KEST_PORT_BASE"] = str(args.port_base)
    control_port = args.port_base + 10
    env["KEST_TEST_CONTROL_PORT"] = str(control_port)
    env["KEST_TEST_PORT_BASE"] = str(args.port_base)
    env["KEST_TEST_PYTHON"] = sys.executable
    here = os.path.dirname(os.path.abspath(__file__))

    try:
        with running_paxsim(args.paxsim, env, args.port_base, extra=args.paxsim_args):
            run_octave(args, env, here)
    except RuntimeError as failed:
        sys.exit(str(failed))


def run_octave(args, env, here):
    """Runs the script in Octave; exits with a message when it fails."""
    octave_env = dict(env)
    if args.preload:
        octave_env["LD_PRELOAD"] = args.preload
        # Octave itself is not built for leak checking; the module's own faults still stop
        # the run.
        octave_env["ASAN_OPTIONS"] = "detect_leaks=0:halt_on_error=1"
        octave_env["UBSAN_OPTIONS"] = "halt_on_error=1:print_stacktrace=1"
    code = (f"addpath('{args.mex_dir}'); addpath('{here}'); " +
            f"run('{os.path.abspath(args.script)}'); " * args.repeat)
    try:
        octave = subprocess.run(
            [args.octave, "--norc", "--no-history", "--quiet", "--eval", code],
            env=octave_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            timeout=args.timeout)
    except subprocess.TimeoutExpired as expired:
        print(expired.stdout or "")
        print(expired.stderr or "", file=sys.stderr)
        sys.exit(f"octave did not finish within {args.timeout} s")
    sys.stdout.write(octave.stdout)
    sys.stderr.write(octave.stderr)
    if octave.returncode != 0:
        sys.exit(f"octave exited with status {octave.returncode}")
    if args.quiet_exit and octave.stderr.strip():
        sys.exit("octave wrote to standard error")
    if args.expect and not re.search(args.expect, octave.stdout, re.MULTILINE):
        sys.exit(f"octave's output does not match '{args.expect}'")


if __name__ == "__main__":
    main()
