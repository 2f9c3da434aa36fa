#!/usr/bin/env bash
# Times whole runs of quoril against the floor of the job (bench/floor.cc:
# only the system calls a run needs) and against cp of the same file, on
# the three benchmark inputs, and prints quoril / floor and quoril / cp.
#
#   bench/run_vs_floor.sh [BUILD_DIR]
#
# The machine is shared and noisy, so the three commands run side by side
# in ROUNDS rounds (default 4) of RUNS runs each (default 100); each ratio
# is taken of the medians within a round, and the rounds' ratios are
# printed as their median and range. QUORIL=PATH times another build of
# the program on the same inputs. Needs hyperfine and python3 (Debian:
# hyperfine, python3).
set -euo pipefail
build=${1:-build}
quoril=$(realpath "${QUORIL:-$build/quoril}")
floor=$(realpath "$build/bench/floor")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$build/bench/make_inputs" "$dir"
echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
for round in $(seq "${ROUNDS:-4}"); do
	commands=()
	for input in ascii latin1 all_high; do
		cp "$dir/$input.txt" "$dir/$input.out"
		commands+=("$quoril $dir/$input.txt $dir/$input.out /O"
			"$floor $input $dir/$input.txt $dir/$input.out"
			"cp $dir/$input.txt $dir/$input.copy")
	done
	# -i: quoril and the floor exit with the count, which is not 0.
	hyperfine -N -i --style none --warmup 20 --runs "${RUNS:-100}" \
		--export-json "$dir/round$round.json" "${commands[@]}" >/dev/null 2>&1
done

python3 - "$dir"/round*.json <<'PY'
import json, statistics, sys
names = ["ascii", "latin1", "all_high"]
rounds = [json.load(open(f))["results"] for f in sys.argv[1:]]
print(f"{'input':<9} {'quoril':>9} {'floor':>9} {'cp':>9} {'q/floor':>16} {'q/cp':>16}")
for i, name in enumerate(names):
    q = [r[3 * i]["median"] * 1e3 for r in rounds]
    f = [r[3 * i + 1]["median"] * 1e3 for r in rounds]
    c = [r[3 * i + 2]["median"] * 1e3 for r in rounds]
    qf = [a / b for a, b in zip(q, f)]
    qc = [a / b for a, b in zip(q, c)]
    span = lambda v: f"{statistics.median(v):.2f} ({min(v):.2f}-{max(v):.2f})"
    print(f"{name:<9} {statistics.median(q):6.3f} ms {statistics.median(f):6.3f} ms "
          f"{statistics.median(c):6.3f} ms {span(qf):>16} {span(qc):>16}")
PY
