#!/usr/bin/env bash
# Every performance figure of the project in one table, with its target and, where there is
# a floor, the ratio to it. Builds what it needs first (Release, in build/bench, through the
# compiler cache), then runs on loopback only, inside a private network namespace:
#   bench_cache        packet intake of the cache; 512-electrode read vs memcpy
#   bench_transport    packet path vs raw UDP sockets
#   bench_links        confirmed boolean write
#   octave_cont.sh     kestmex('cont', 1:512, 5120, 'raw') vs filling the matrix in a MEX
#   bench_full_load    open first / median / p95 (16 front ends), and paxsim at full load
#                      (16 x 32 channels raw at 30 kHz) into the library over UDP and TCP,
#                      with no reader and with a reader of the whole 5.12 s window of all
#                      512 electrodes every 100 ms
#
# Usage: bench/run_all.sh [--quick]
#   --quick: 5 opens instead of 15, 2 cont calls, 5 s full-load runs after 3 s of warm-up
#            (instead of 20 s after 6 s): for trying the script, not for figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
quick=0
case "${1:-}" in
--quick) quick=1 ;;
"") ;;
*) echo "usage: bench/run_all.sh [--quick]" >&2; exit 2 ;;
esac

source "$root/scripts/kest-env.sh" # refuses networks other than loopback

build="$root/build/bench"
if [ -z "${KEST_RUN_ALL_INSIDE:-}" ]; then
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-/work}" CCACHE_DIR="${CCACHE_DIR:-/work/.ccache}"
    export CCACHE_NOHASHDIR=1
    launcher=()
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DKEST_WERROR=ON \
            -DKEST_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
    fi
    targets=(bench_cache bench_transport bench_links bench_full_load paxsim_app kestmex)
    if command -v mkoctfile >/dev/null && command -v octave-cli >/dev/null; then
        targets+=(floor_mex)
    fi
    echo "building ${targets[*]} in $build" >&2
    cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
    # Everything below runs in a network namespace of its own with loopback only.
    KEST_RUN_ALL_INSIDE=1 exec "$root/scripts/in-netns.sh" "$0" "$@"
fi

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
port_base=$((KEST_PORT_BASE + 800))
if [ "$quick" = 1 ]; then
    opens=5 calls=2 warmup=3 seconds=5
else
    opens=15 calls=5 warmup=6 seconds=20
fi
note() { echo "-- $*" >&2; }

note "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
note "cache intake, 512-electrode read, memcpy"
# Five repetitions each, reported by their median: one run moves with what else the machine does.
"$build/bench/cache/bench_cache" --benchmark_format=json --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true >"$out/cache.json"
note "packet path, raw UDP"
"$build/bench/transport/bench_transport" --benchmark_format=json --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true >"$out/transport.json"
note "confirmed write"
"$build/bench/links/bench_links" --benchmark_filter=ConfirmedWrite \
    --benchmark_format=json >"$out/links.json"
if [ -e "$build/bench/octave/floor_mex.mex" ]; then
    note "cont vs matrix floor"
    "$root/bench/octave_cont.sh" "$build" "$calls" >"$out/cont.txt" 2>&1 || true
fi
note "opens ($opens after the first)"
"$build/bench/links/bench_full_load" --paxsim "$build/emulator/paxsim" \
    --port-base "$port_base" --opens "$opens" 2>/dev/null >"$out/full.txt"
run=0
for transport in udp tcp; do
    for reader in none window; do
        run=$((run + 1))
        note "full load over $transport, reader: $reader (${seconds} s)"
        "$build/bench/links/bench_full_load" --paxsim "$build/emulator/paxsim" \
            --port-base $((port_base + 20 * run)) --transport "$transport" --reader "$reader" \
            --warmup "$warmup" --seconds "$seconds" 2>/dev/null >>"$out/full.txt"
    done
done
note "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$out" <<'EOF'
import json, os, re, sys

out = sys.argv[1]

def bench(name):
    """Benchmarks by name; of repeated ones, the median of the repetitions."""
    try:
        with open(os.path.join(out, name + ".json")) as f:
            found = json.load(f)["benchmarks"]
    except (OSError, ValueError, KeyError):
        return {}
    named = {b["name"]: b for b in found if b.get("run_type") != "aggregate"}
    for b in found:
        if b.get("aggregate_name") == "median":
            named[b["run_name"]] = b
    return named

cache, transport, links = bench("cache"), bench("transport"), bench("links")
rows = []

def row(figure, measured, target, ratio=""):
    rows.append((figure, measured, target, ratio))

def ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
    return b["real_time"] * scale

full_rate = 16 * 30000
for name, figure in (("BM_CacheIntake", "cache intake, a packet at a time"),
                     ("BM_CacheIntakeBatched", "cache intake, a receive at a time (the link)")):
    if name in cache:
        rate = cache[name]["items_per_second"]
        row(figure, "%.2f M packets/s (median of 5)" % (rate / 1e6), ">= 0.48 M/s (full load)",
            "%.1f x full load" % (rate / full_rate))
for name, figure in (("BM_PacketPathUdp", "packet path (UDP), a datagram at a time"),
                     ("BM_PacketPathUdpBatch", "packet path (UDP), batches (the link)")):
    if name in transport and "BM_RawUdp" in transport:
        path = transport[name]["items_per_second"]
        raw = transport["BM_RawUdp"]["items_per_second"]
        row(figure, "%.2f M packets/s (median of 5)" % (path / 1e6), "no regression",
            "%.2f x raw UDP time (raw %.2f M/s)" % (raw / path, raw / 1e6))
if "BM_ContRetrieval512" in cache and "BM_Memcpy512" in cache:
    read, copy = ms(cache["BM_ContRetrieval512"]), ms(cache["BM_Memcpy512"])
    row("512 x 5.12 s read", "%.1f ms" % read, "no regression",
        "%.2f x memcpy (%.1f ms)" % (read / copy, copy))
try:
    text = open(os.path.join(out, "cont.txt")).read()
    m = re.search(r"cont  \(512 x 153600\): median ([\d.]+) ms", text)
    r = re.search(r"cont/floor ratio: ([\d.]+)", text)
    if m and r:
        row("kestmex cont 512 x 5.12 s", "%s ms" % m.group(1), "no regression",
            "%s x matrix floor" % r.group(1))
    else:
        row("kestmex cont 512 x 5.12 s", "failed", "no regression")
except OSError:
    row("kestmex cont 512 x 5.12 s", "not run (no Octave)", "no regression")

fields = []
try:
    for line in open(os.path.join(out, "full.txt")):
        words = line.split()
        if words:
            fields.append((words[0], dict(w.split("=", 1) for w in words[1:] if "=" in w)))
except OSError:
    pass

for kind, f in fields:
    if kind == "opens":
        row("open, 16 front ends: first", "%s ms" % f["first_ms"], "<= 250 ms",
            "%.2f x target" % (float(f["first_ms"]) / 250))
        row("open: median of %s" % f["n"], "%s ms" % f["median_ms"], "")
        row("open: p95 of %s" % f["n"], "%s ms" % f["p95_ms"], "<= 150 ms",
            "%.2f x target" % (float(f["p95_ms"]) / 150))

write = [b for n, b in links.items()
         if n.startswith("BM_ConfirmedWrite") and b.get("aggregate_name") == "median"]
if write:
    b = write[0]
    us = ms(b) * 1000
    row("confirmed boolean write", "%.0f us (median of 3 runs)" % us, "<= 100 us",
        "%.2f x target" % (us / 100))

for kind, f in fields:
    if kind != "full_load":
        continue
    name = "full load %s, %s" % (f["transport"].upper(),
                                 "no reader" if f["reader"] == "none" else "5.12 s x 512 / 100 ms")
    received = int(f["received"])
    lost = int(f["lost"])
    share = 100.0 * lost / (lost + received) if lost + received else 0
    row(name + ": lost samples", "%d (%.2f %% of those read), %s in warm-up" %
        (lost, share, f["lost_warmup"]),
        "0")
    behind = int(f["behind_at_end"])
    row(name + ": not arrived at end", "%d samples (%.2f s)%s" %
        (behind, behind / (512 * 30000.0),
         ", processor dropped the stream" if f["stream_dropped"] == "1" else ""), "")
    if f["transport"] == "udp":
        row(name + ": socket drops", f["socket_drops"] + " datagrams", "0")
    row(name + ": link thread CPU", "%s %% of a core" % f["link_cpu_pct"],
        "<= 12 %" if f["reader"] == "none" and f["transport"] == "udp" else "",
        "%.2f x target" % (float(f["link_cpu_pct"]) / 12)
        if f["reader"] == "none" and f["transport"] == "udp" else "")
    row(name + ": kl_time behind the data sent", "median %s ms, p99 %s ms, max %s ms" %
        (f["sent_lag_median_ms"], f["sent_lag_p99_ms"], f["sent_lag_max_ms"]),
        "<= 5 ms" if f["reader"] == "window" else "")
    row(name + ": kl_time behind paxsim's clock", "median %s ms, p99 %s ms, max %s ms" %
        (f["lag_median_ms"], f["lag_p99_ms"], f["lag_max_ms"]), "")
    if f["reader"] == "window":
        row(name + ": reads", "%s, median %s ms, max %s ms" % (f["reads"], f["read_median_ms"],
            f["read_max_ms"]), "")

widths = [max(len(r[i]) for r in rows + [("Figure", "Measured", "Target", "Ratio")])
          for i in range(4)]
def show(r):
    print("  ".join(r[i].ljust(widths[i]) for i in range(4)).rstrip())
show(("Figure", "Measured", "Target", "Ratio"))
show(tuple("-" * w for w in widths))
for r in rows:
    show(r)
EOF
