#!/usr/bin/env bash
# bench_frame of two builds in one run, taking turns (A B A B ...), so the
# ratios between them and within each hold on a shared, noisy machine: the
# median of each BM_Frame figure per build, then the ratios the frames are
# judged by (particles against the same transition without, 2160p against
# 1080p).
#
# Usage: bench/frame/compare_frames.sh [-n ROUNDS] [-t MIN_TIME] BUILD [OTHER_BUILD]
#   a build is a build folder holding bench/frame/bench_frame.
set -euo pipefail
rounds=3
min_time=0.5
while (($#)) && [[ "$1" == -* ]]; do
    case "$1" in
    -n) rounds=$2; shift 2 ;;
    -t) min_time=$2; shift 2 ;;
    *) echo "compare_frames: unknown option $1" >&2; exit 2 ;;
    esac
done
(($#)) || { echo "usage: compare_frames.sh [-n ROUNDS] [-t MIN_TIME] BUILD [OTHER_BUILD]" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((round = 0; round < rounds; ++round)); do
    for ((b = 1; b <= $#; ++b)); do
        "${!b}/bench/frame/bench_frame" --benchmark_filter='^BM_Frame' \
            --benchmark_min_time="$min_time" --benchmark_format=json \
            >"$work/$b.$round.json" 2>/dev/null
    done
done
python3 - "$work" "$@" <<'PY'
import json, statistics, sys, glob
work, builds = sys.argv[1], sys.argv[2:]
med = []
for b in range(1, len(builds) + 1):
    runs = {}
    for path in sorted(glob.glob(f"{work}/{b}.*.json")):
        for r in json.load(open(path))["benchmarks"]:
            runs.setdefault(r["name"].replace("/real_time", ""), []).append(
                (r["real_time"], r["cpu_time"]))
    med.append({n: (statistics.median(v[0] for v in vs), statistics.median(v[1] for v in vs))
                for n, vs in runs.items()})
names = list(med[0])
print("%-40s" % "median ms (real / cpu)" + "".join("%24s" % b[-22:] for b in builds))
for n in names:
    print("%-40s" % n.replace("BM_Frame/", "") +
          "".join("%13.1f /%8.1f" % m[n] if n in m else "%24s" % "-" for m in med))
def name(w, h, bits, kind):
    return f"BM_Frame/w:{w}/h:{h}/bits:{bits}/kind:{kind}"
ratios = [("1080p 8 bits: particles / transition", name(1920, 1080, 8, 2), name(1920, 1080, 8, 1)),
          ("1080p 32 bits: particles / transition", name(1920, 1080, 32, 2), name(1920, 1080, 32, 1)),
          ("transition 32 bits: 2160p / 1080p", name(3840, 2160, 32, 1), name(1920, 1080, 32, 1)),
          ("transition 8 bits: 2160p / 1080p", name(3840, 2160, 8, 1), name(1920, 1080, 8, 1))]
print()
print("%-40s" % "ratio (real / cpu)" + "".join("%24s" % b[-22:] for b in builds))
for label, a, b in ratios:
    print("%-40s" % label + "".join(
        "%13.2f /%8.2f" % (m[a][0] / m[b][0], m[a][1] / m[b][1]) for m in med))
PY
