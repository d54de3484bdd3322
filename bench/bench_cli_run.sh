#!/usr/bin/env bash
# Times `calibration-cli run` on the sample bay: wall time and peak memory of each run, and the
# stage timings of its report. Goal: 1.5 s wall or less, 400 MB peak or less.
#
#   bench/bench_cli_run.sh [CLI] [RUNS]     CLI defaults to build/release/app/cli/calibration-cli
#                                           (./demo.sh builds it), RUNS to 5
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/release/app/cli/calibration-cli}
runs=${2:-5}
[ -x "$cli" ] || { echo "no $cli: run ./demo.sh first, or name the program" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" simulate --out "$work/bay" --seed 1 >/dev/null

python3 - "$cli" "$work" "$runs" <<'PY'
import json, os, resource, subprocess, sys, time, statistics
cli, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
walls, peaks, stages = [], [], []
for i in range(runs):
    out = os.path.join(work, "out%d" % i)
    report = os.path.join(work, "report%d.json" % i)
    args = [cli, "run", "--config", os.path.join(work, "bay", "Config.bin"), "--data", os.path.join(work, "bay"),
            "--out", out, "--report", report]
    start = time.perf_counter()
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    # wait4 gives this child's own peak resident size (kB on Linux).
    _, status, usage = os.wait4(proc.pid, 0)
    walls.append(time.perf_counter() - start)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("run %d failed: %s" % (i, proc.stderr.read().decode()))
    peaks.append(usage.ru_maxrss / 1024)
    stages.append(json.load(open(report))["timings_ms"])
keys = ["load", "detect", "calibrate", "build", "save", "snapshot"]
print("calibration-cli run, sample bay (720x480, seed 1), %d runs" % runs)
print("  wall  median %.3f s  min %.3f s  max %.3f s   (goal <= 1.5 s)" % (statistics.median(walls), min(walls), max(walls)))
print("  peak memory  %.0f MB   (goal <= 400 MB)" % max(peaks))
print("  stages (median ms): " + ", ".join("%s %.1f" % (k, statistics.median(s[k] for s in stages)) for k in keys))
PY
