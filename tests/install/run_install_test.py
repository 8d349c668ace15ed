#!/usr/bin/env python3
"""Installs the build into a scratch prefix and uses the installed C package.

Checks what the install put where, builds a small C program against the package twice
(through CMake's find_package and through pkg-config), and runs both against the installed
paxsim on loopback. Refuses to run unless both networks are loopback.
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from paxsim_process import NotLoopback, loopback_env, running_paxsim  # noqa: E402


def run(command, quiet=False, **kwargs):
    print("+ " + " ".join(command), flush=True)
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, **kwargs)
    if not quiet or result.returncode != 0:
        sys.stdout.write(result.stdout)
    if result.returncode != 0:
        sys.exit(f"failed with status {result.returncode}: {' '.join(command)}")
    return result.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--libdir", required=True, help="CMAKE_INSTALL_LIBDIR")
    parser.add_argument("--octave-dir", default="", help="where kestmex.mex is expected")
    parser.add_argument("--cc", required=True)
    parser.add_argument("--port-base", type=int, required=True)
    parser.add_argument("--soname", required=True, help="expected soname of libkestlib")
    args = parser.parse_args()

    try:
        env = loopback_env()
    except NotLoopback as refused:
        sys.exit(str(refused))
    env["KEST_PORT_BASE"] = str(args.port_base)

    shutil.rmtree(args.scratch, ignore_errors=True)
    prefix = os.path.join(args.scratch, "prefix")
    run([args.cmake, "--install", args.build_dir, "--prefix", prefix])

    libdir = os.path.join(prefix, args.libdir)
    expected = ["include/kestlib.h", f"{args.libdir}/libkestlib.so",
                f"{args.libdir}/{args.soname}", f"{args.libdir}/cmake/kestlib/kestlibConfig.cmake",
                f"{args.libdir}/pkgconfig/kestlib.pc", "bin/paxsim"]
    if args.octave_dir:
        expected += [f"{args.octave_dir}/kestmex.mex", f"{args.octave_dir}/kestmex.m"]
    missing = [path for path in expected if not os.path.exists(os.path.join(prefix, path))]
    if missing:
        sys.exit("not installed: " + ", ".join(missing))

    here = os.path.dirname(os.path.abspath(__file__))
    # Through CMake: find_package(kestlib) and the imported target kest::kestlib.
    cmake_build = os.path.join(args.scratch, "cmake-consumer")
    run([args.cmake, "-S", os.path.join(here, "consumer"), "-B", cmake_build,
         f"-DCMAKE_PREFIX_PATH={prefix}", f"-DCMAKE_C_COMPILER={args.cc}"], env=env)
    run([args.cmake, "--build", cmake_build], env=env)
    by_cmake = os.path.join(cmake_build, "kest_consumer")

    # Through pkg-config.
    pc_env = dict(env, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"))
    flags = run(["pkg-config", "--cflags", "--libs", "kestlib"], env=pc_env).split()
    by_pkgconfig = os.path.join(args.scratch, "pc-consumer")
    run([args.cc, os.path.join(here, "consumer", "kest_consumer.c"), "-o", by_pkgconfig]
        + flags, env=env)
    needed = run(["readelf", "-d", by_pkgconfig], quiet=True)
    if f"[{args.soname}]" not in needed:
        sys.exit(f"the program does not load {args.soname}")

    try:
        with running_paxsim(os.path.join(prefix, "bin", "paxsim"), env, args.port_base,
                            mode="udp", wait=10):
            run_env = dict(env, LD_LIBRARY_PATH=libdir)
            for program in (by_cmake, by_pkgconfig):
                output = run([program], env=run_env, timeout=60)
                if "100 raw samples" not in output:
                    sys.exit(f"{program} did not read the samples")
    except RuntimeError as failed:
        sys.exit(str(failed))
    print("installed package works")


if __name__ == "__main__":
    main()
