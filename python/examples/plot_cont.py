#!/usr/bin/env python3
"""Plots one second of raw signal and LFP of four electrodes into a PNG.

Usage: plot_cont.py [OUTPUT.png] [--tcp] [--electrodes 0,1,32,33]

Connects to the processor, waits until a second of samples has arrived, reads the raw
(30 kS/s) and LFP (1 kS/s) windows of the electrodes, and draws them with matplotlib's
headless Agg backend. Run it against the emulated processor, e.g.:

    source scripts/kest-env.sh
    build/default/emulator/paxsim --frontends 4 &
    KESTPY_LIBRARY=build/default/lib/libkestlib.so python3 python/examples/plot_cont.py
"""
import argparse
import os
import sys
import time

import matplotlib
import numpy as np

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import kestpy  # noqa: E402


LOST = -8192.0


def wait_for_data(pax, seconds, deadline=20.0):
    """Waits until the processor has sent `seconds` of data since the connection opened."""
    opened = pax.time()
    end = time.monotonic() + deadline
    while pax.time() - opened < seconds * kestpy.TICKS_PER_SECOND:
        if time.monotonic() > end:
            sys.exit("the processor time does not advance")
        time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", default="cont.png")
    parser.add_argument("--tcp", action="store_true", help="connect over TCP instead of UDP")
    parser.add_argument("--electrodes", default="0,1,32,33",
                        help="four electrode ids, 0-based (default 0,1,32,33)")
    args = parser.parse_args()
    electrodes = [int(e) for e in args.electrodes.split(",")]

    with kestpy.Processor("tcp" if args.tcp else "udp") as pax:
        print(f"connected; processor time {pax.time()} ticks")
        wait_for_data(pax, 1.2)
        raw = pax.continuous(electrodes, 30000, "raw")
        lfp = pax.continuous(electrodes, 1000, "lfp", start_time=raw.start_time)
    print(f"raw: {raw.data.shape[0]} x {raw.data.shape[1]} samples from time {raw.start_time}")
    print(f"lfp: {lfp.data.shape[0]} x {lfp.data.shape[1]} samples from time {lfp.start_time}")

    # Samples lost on the way hold the lowest ADC value (-32768 counts, -8192 uV at the
    # front ends' 0.25 uV per count): leave them out of the picture.
    raw_data = np.where(raw.data <= LOST, np.nan, raw.data)
    lfp_data = np.where(lfp.data <= LOST, np.nan, lfp.data)

    figure, axes = plt.subplots(2, 1, figsize=(10, 7), sharex=True)
    t0 = raw.start_time / kestpy.TICKS_PER_SECOND
    spacing = max(float(np.nanmax(np.abs(raw_data))) * 2.2, 1.0) if raw.data.size else 1.0
    for k, electrode in enumerate(electrodes):
        if raw.data.shape[1]:
            axes[0].plot(raw.times() - t0, raw_data[k] + k * spacing, lw=0.4,
                         label=f"electrode {electrode}")
        if lfp.data.shape[1]:
            axes[1].plot(lfp.times() - t0, lfp_data[k], lw=0.8, label=f"electrode {electrode}")
    axes[0].set_title(f"raw signal, 30 kS/s (offset {spacing:.0f} \u00b5V per electrode)")
    axes[0].set_ylabel("voltage (\u00b5V)")
    axes[1].set_title("LFP, 1 kS/s")
    axes[1].set_ylabel("voltage (\u00b5V)")
    axes[1].set_xlabel(f"time since {t0:.3f} s processor time (s)")
    for ax in axes:
        ax.legend(loc="upper right", fontsize="small")
    figure.tight_layout()
    figure.savefig(args.output, dpi=100)
    print(f"picture written to {os.path.abspath(args.output)}")


if __name__ == "__main__":
    main()
