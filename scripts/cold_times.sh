#!/usr/bin/env bash
# Times the terminal program as a user meets it: a new process every run, so every engine is made
# on a fresh handle and every page is touched for the first time. For `run` on the sample bay:
# wall time, CPU time (user + system), page faults and peak memory of the process, and the stages
# of its report; for `bowl`: the same and the view's own Init and Apply. Medians over RUNS runs.
# On a loaded machine wall times mean little: the CPU time and the page faults still compare.
#
#   scripts/cold_times.sh [CLI] [RUNS]   CLI defaults to build/release/app/cli/calibration-cli
#                                        (./demo.sh builds it), RUNS to 5
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/release/app/cli/calibration-cli}
runs=${2:-5}
[ -x "$cli" ] || { echo "no $cli: run ./demo.sh first, or name the program" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" simulate --out "$work/bay" --seed 1 >/dev/null

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
python3 - "$cli" "$work" "$runs" <<'PY'
import json, os, re, statistics, subprocess, sys, time
cli, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
bay = os.path.join(work, "bay")

def measure(args):
    start = time.perf_counter()
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # wait4: this child's own CPU time, minor page faults and peak resident size (kB).
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    out = proc.stdout.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed: %s" % (" ".join(args[:2]), proc.stderr.read().decode()))
    return {"wall": wall * 1000, "cpu": (usage.ru_utime + usage.ru_stime) * 1000, "faults": usage.ru_minflt,
            "peak": usage.ru_maxrss / 1024}, out

def line(name, samples, extra):
    med = {k: statistics.median(s[k] for s in samples) for k in samples[0]}
    print("%-26s wall %6.0f ms  cpu %6.0f ms  faults %6.0f  peak %4.0f MB%s" % (
        name, med["wall"], med["cpu"], med["faults"], med["peak"], extra))

run, stages = [], []
report = os.path.join(work, "report.json")
for i in range(runs):
    s, _ = measure([cli, "run", "--config", os.path.join(bay, "Config.bin"), "--data", bay,
                    "--out", os.path.join(work, "out%d" % i), "--report", report])
    run.append(s)
    stages.append(json.load(open(report))["timings_ms"])
keys = ["load", "detect", "calibrate", "build", "save"]
line("run (sample bay)", run, "")
print("  stages (median ms): " + ", ".join("%s %.0f" % (k, statistics.median(s[k] for s in stages)) for k in keys))

bowl, inits, applies = [], [], []
for i in range(runs):
    s, out = measure([cli, "bowl", "--config", os.path.join(bay, "Config.bin"), "--data", bay, "--report", report,
                      "--out", os.path.join(work, "bowl%d" % i), "--no-tables"])
    bowl.append(s)
    m = re.search(r"init ([0-9.]+), apply ([0-9.]+)", out)
    inits.append(float(m.group(1)))
    applies.append(float(m.group(2)))
line("bowl 1280x720 (rear)", bowl, "")
print("  the view's first Init %.0f ms, first Apply %.0f ms (median)" % (statistics.median(inits),
                                                                     statistics.median(applies)))
PY
