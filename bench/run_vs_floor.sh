#!/usr/bin/env bash
# Times whole runs of quoril against cp of the same file, on the three
# benchmark inputs, in one hyperfine run, and prints quoril / cp (medians).
#
#   bench/run_vs_cp.sh [BUILD_DIR]
#
# RUNS=N sets the runs per command; QUORIL=PATH times another build of the
# program on the same inputs.
#
# Needs hyperfine and python3 (Debian: hyperfine, python3).
set -euo pipefail
build=${1:-build}
quoril=$(realpath "${QUORIL:-$build/quoril}")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$build/bench/make_inputs" "$dir"
commands=()
for input in ascii latin1 all_high; do
	commands+=("$quoril $dir/$input.txt $dir/$input.htm /O"
		"cp $dir/$input.txt $dir/$input.copy")
done
# -i: quoril exits with its count, which is not 0.
hyperfine -N -i --style basic --warmup 50 --runs "${RUNS:-500}" \
	--export-json "$dir/times.json" "${commands[@]}" >/dev/null

python3 - "$dir/times.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
targets = {"ascii": 0.75, "latin1": 0.75, "all_high": 1.0}
print(f"{'input':<10} {'quoril':>10} {'cp':>10} {'ratio':>7} {'target':>7}")
for i, name in enumerate(targets):
    q = results[2 * i]["median"] * 1e3
    c = results[2 * i + 1]["median"] * 1e3
    print(f"{name:<10} {q:>7.3f} ms {c:>7.3f} ms {q / c:>7.2f} {targets[name]:>7.2f}")
PY
