#!/usr/bin/env bash
# The measuring stick on pictures like a plant's: calibration-cli run (refined) on simulated bays at
# every realism level (simulate --realism clean|mild|real|harsh), one table per level of what it got
# against the truth: corner error, pose errors, seams per corner zone beside the report's prediction
# of them, and the report's verdict with its errors (good over a visible break, poor on a clean bay).
#   scripts/realism_sweep.sh [--quick] [--levels "clean real"] [--seeds "4 5"] [--sizes "1280x720"]
#                            [--tables-only] [BUILD_DIR]
# Whole: seeds 1-12 at 720x480 and 640x480, 1-4 at 1280x720 (28 bays a level, each a simulation and two
# runs: most of an hour for the four levels on two cores). --quick: seeds 1-3 at the small sizes and 1
# at 1280x720; --seeds: those seeds at the small sizes alone (to check on bays not looked at before);
# --sizes: those picture sizes alone (with --seeds, those seeds at them, 1280x720 too).
# BUILD_DIR is build/dev unless given. The raw lines stay in BUILD_DIR/realism_sweep.log;
# --tables-only prints its tables again.
# A bay whose run fails is a row "run failed" (and a failed test), not the end of the sweep.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
run=1
levels="clean mild real harsh"
seeds=""
sizes=""
build=build/dev
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1 ;;
        --tables-only) run=0 ;;
        --levels) levels=$2; shift ;;
        --seeds) seeds=$2; shift ;;
        --sizes) sizes=$2; shift ;;
        -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
        *) build=$1 ;;
    esac
    shift
done
log="$build/realism_sweep.log"
if [ $run = 1 ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" --target e2e_test calibration-cli -j "$(nproc 2>/dev/null || echo 2)"

    if [ $quick = 1 ]; then small=3; large=1; else small=12; large=4; fi
    filter=""
    for level in $levels; do
        if [ "$level" = clean ]; then suite=Simulated; prefix=""; else suite=Realism; prefix="${level}_"; fi
        for size in ${sizes:-720x480 640x480 1280x720}; do
            last=$small
            [ $size = 1280x720 ] && last=$large
            list=$(seq 1 "$last")
            if [ -n "$seeds" ]; then
                [ $size = 1280x720 ] && [ -z "$sizes" ] && continue
                list=$seeds
            fi
            for seed in $list; do filter+="${filter:+:}$suite/Bay.*/${prefix}${size}_seed$seed"; done
        done
    done

    # Two shards side by side: each bay runs the command line one picture set at a time.
    : >"$log"
    shards=2
    for i in $(seq 0 $((shards - 1))); do
        GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i "$build/tests/e2e/e2e_test" --gtest_filter="$filter" \
            >"$log.$i" 2>&1 &
    done
    wait
    # The shards' files alone: the last run's figures file lies beside them.
    shard_logs=$(seq -f "$log.%g" 0 $((shards - 1)))
    cat $shard_logs >"$log"
    rm -f $shard_logs
fi
grep -E '^FIGURES' "$log" >"$log.figures" || true

python3 - "$log.figures" $levels <<'EOF'
import math, re, sys
path, levels = sys.argv[1], sys.argv[2:]
rows = {}
for line in open(path):
    m = re.match(r'FIGURES (\S+)\s+(\S+)\s+seed\s+(\d+) \| (.*)', line)
    if not m:
        continue
    size, mode, seed, rest = m.group(1), m.group(2), int(m.group(3)), m.group(4)
    level = 'clean' if mode == 'refined' else mode
    if level not in levels:
        continue
    row = rows.setdefault((level, size, seed), {})
    if rest.startswith('corner'):
        f = re.search(r'median ([\d.]+) p95 ([\d.]+) max ([\d.]+) \| height % ([\d.]+) tilt ([\d.]+) roll ([\d.]+)'
                      r' heading ([\d.]+) deg distance ([\d.]+) mm', rest)
        nums = [float(x) for x in f.groups()]
        row.update(corner=nums[0:3], height=nums[3], tilt=nums[4], roll=nums[5], heading=nums[6], distance=nums[7])
        row['placed'] = int(re.search(r'(\d+) halves placed', rest).group(1))
    elif rest.startswith('zones'):
        zones = re.findall(r'(FL|FR|RL|RR) ([\d.]+)/([\d.]+)/([\d.]+)', rest)
        row['zones'] = {z: (float(a), float(b), float(c)) for z, a, b, c in zones}
        pred = re.search(r'predicted p95 (.*?) \|', rest)
        if pred:
            row['predicted'] = {z: float(v) if v != '-' else None
                                for z, v in re.findall(r'(FL|FR|RL|RR) ([\d.]+|-)', pred.group(1))}
        row['quality'] = rest.rsplit('quality ', 1)[-1].strip()
        dropped = re.search(r'dropped (\d+)', rest)
        row['dropped'] = int(dropped.group(1)) if dropped else 0
    elif rest.startswith('run failed'):
        row['failed'] = True
sizes = ['720x480', '640x480', '1280x720']
for level in levels:
    keys = sorted((k for k in rows if k[0] == level), key=lambda k: (sizes.index(k[1]), k[2]))
    print(f'\n== {level} ({len(keys)} bays) ==')
    print(f'{"bay":<16} {"corner px med/p95/max":<22} {"height%":>7} {"tilt":>5} {"roll":>5} {"head":>5} {"dist":>6}'
          f' | {"seam p95 mm FL/FR/RL/RR":<25} {"worst zone p95/max":>18} | {"predicted FL/FR/RL/RR":<22}'
          f' | {"quality":<8} hand')
    worst = {}
    logs = []
    for k in keys:
        r = rows[k]
        name = f'{k[1]} s{k[2]}'
        if r.get('failed') or 'corner' not in r:
            print(f'{name:<16} run failed')
            worst['failed'] = worst.get('failed', 0) + 1
            continue
        c = r['corner']
        z = r.get('zones', {})
        p95s = '/'.join(f'{z[n][1]:.0f}' for n in ('FL', 'FR', 'RL', 'RR')) if z else '-'
        wz = max(z.values(), key=lambda v: v[1]) if z else (0, 0, 0)
        wzs = f'{wz[1]:9.1f} {wz[2]:8.1f}' if z else f'{"(no tables)":>18}'
        pr = r.get('predicted', {})
        prs = '/'.join('-' if pr.get(n) is None else f'{pr[n]:.0f}' for n in ('FL', 'FR', 'RL', 'RR')) if pr else '-'
        print(f'{name:<16} {c[0]:5.2f} {c[1]:5.2f} {c[2]:6.2f}     {r["height"]:7.2f} {r["tilt"]:5.2f} {r["roll"]:5.2f}'
              f' {r["heading"]:5.2f} {r["distance"]:6.1f} | {p95s:<25} {wzs} | {prs:<22} | {r.get("quality", "-"):<8}'
              f' {r["placed"]}')
        for key, v in (('corner max', c[2]), ('corner p95', c[1]), ('height %', r['height']), ('tilt', r['tilt']),
                       ('roll', r['roll']), ('heading', r['heading']), ('distance mm', r['distance']),
                       ('zone p95 mm', wz[1]), ('zone max mm', wz[2])):
            worst[key] = max(worst.get(key, 0), v)
        worst['halves placed by hand'] = worst.get('halves placed by hand', 0) + r['placed']
        worst['corners dropped'] = worst.get('corners dropped', 0) + r.get('dropped', 0)
        q = r.get('quality', '-')
        worst['quality ' + q] = worst.get('quality ' + q, 0) + 1
        # The verdict's errors against the truth: "good" over a seam a driver sees as a break
        # (true 95th over 30 mm), "poor" on a clean bay. Bays without tables have no true seams.
        worst.setdefault('verdict errors: good over 30 mm', 0)
        if q == 'good' and z and wz[1] > 30:
            worst['verdict errors: good over 30 mm'] += 1
        # What the verdict passes of what it could: bays whose every zone stays within 20 mm.
        if z and wz[1] <= 20:
            worst.setdefault('good of bays within 20 mm', [0, 0])
            worst['good of bays within 20 mm'][1] += 1
            worst['good of bays within 20 mm'][0] += q == 'good'
        if level == 'clean':
            worst.setdefault('verdict errors: poor on clean', 0)
            if q == 'poor':
                worst['verdict errors: poor on clean'] += 1
        # How far the prediction falls short of the truth in the worst case (truth over predicted).
        for n in ('FL', 'FR', 'RL', 'RR'):
            if z and pr.get(n):
                worst['true/predicted'] = max(worst.get('true/predicted', 0), z[n][1] / pr[n])
                logs.append(math.log(max(z[n][1], 0.1) / pr[n]))
    text = lambda v: f'{v:.2f}' if isinstance(v, float) else f'{v[0]} of {v[1]}' if isinstance(v, list) else f'{v}'
    if logs:
        mean = sum(logs) / len(logs)
        worst['log(true/predicted) mean'] = mean
        worst['sd'] = math.sqrt(sum((v - mean) ** 2 for v in logs) / len(logs))
    print('worst: ' + ', '.join(f'{k} {text(v)}' for k, v in worst.items()))
EOF
echo
echo "bays: $(grep -cE '^\[       OK \]' "$log") passed, $(grep -cE '^\[  FAILED  \] .*\([0-9]+ ms\)$' "$log") failed"
grep -E '^\[  FAILED  \] .*\([0-9]+ ms\)$' "$log" | sed -E 's/^\[  FAILED  \] ([^,]*),.*/failed: \1/' || true
