#!/usr/bin/env bash
# What recording a run in the station history adds to it, as a user meets it: `run` on the sample
# bay with --history FILE and with --no-history, in turns (a new process every run), RUNS runs of
# each after one of each to warm the disk cache. Prints the medians of wall and CPU time (user +
# system) of each, their differences, and the load average before and after: on a loaded machine
# the wall times mean little, and the second core the save's writer thread and the detection
# thread use may not be free.
#
#   scripts/history_cost.sh [CLI] [RUNS]   CLI defaults to build/release/app/cli/calibration-cli
#                                          (./demo.sh builds it), RUNS to 9
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/release/app/cli/calibration-cli}
runs=${2:-9}
[ -x "$cli" ] || { echo "no $cli: run ./demo.sh first, or name the program" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" simulate --out "$work/bay" --seed 1 >/dev/null

python3 - "$cli" "$work" "$runs" <<'PY'
import os, statistics, subprocess, sys, time
cli, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
bay = os.path.join(work, "bay")

def measure(extra, out):
    start = time.perf_counter()
    proc = subprocess.Popen([cli, "run", "--config", os.path.join(bay, "Config.bin"), "--data", bay, "--out", out]
                            + extra, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = (time.perf_counter() - start) * 1000
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("run failed: " + proc.stderr.read().decode())
    return wall, (usage.ru_utime + usage.ru_stime) * 1000

kinds = {"--no-history": ["--no-history"], "--history": ["--history", os.path.join(work, "history.sqlite")]}
samples = {k: [] for k in kinds}
print("load average before: %s on %d cores" % (" ".join(open("/proc/loadavg").read().split()[:3]), os.cpu_count()))
for i in range(runs + 1):
    for k, extra in kinds.items():
        s = measure(extra, os.path.join(work, "out-%s" % k.strip("-")))
        if i > 0:
            samples[k].append(s)
print("load average after:  %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
med = {k: (statistics.median(w for w, _ in s), statistics.median(c for _, c in s)) for k, s in samples.items()}
for k, (wall, cpu) in med.items():
    print("run %-13s wall %6.1f ms  cpu %6.1f ms  (medians of %d)" % (k, wall, cpu, runs))
print("the history adds     wall %6.1f ms  cpu %6.1f ms" % (med["--history"][0] - med["--no-history"][0],
                                                           med["--history"][1] - med["--no-history"][1]))
PY
