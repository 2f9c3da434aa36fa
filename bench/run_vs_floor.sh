#!/usr/bin/env bash
# Times whole runs of quoril against the floor of the job (bench/floor.cc:
# only the system calls a run needs) and against cp of the same file, on
# the three benchmark inputs, and prints quoril / floor and quoril / cp.
#
#   bench/run_vs_floor.sh [BUILD_DIR]
#
# The machine is shared and noisy, so bench/paired runs the commands side
# by side, one run of each a round, for ROUNDS rounds (default 400); each
# ratio is the median over the rounds of quoril's time divided by the
# other command's in the same round, with its quartiles. The output exists
# and /O is given. QUORIL=PATH times another build of the program;
# BEFORE=PATH adds that build to the same rounds, for quoril / before.
set -euo pipefail
build=${1:-build}
quoril=$(realpath "${QUORIL:-$build/quoril}")
floor=$(realpath "$build/bench/floor")
paired=$(realpath "$build/bench/paired")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$build/bench/make_inputs" "$dir" >/dev/null
echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
# stat -f names ext4 "ext2/ext3" (one magic number); findmnt knows better.
fs=$(findmnt -n -o FSTYPE -T "$dir" 2>/dev/null || stat -f -c %T "$dir")
echo "file system of $dir: $fs"
for input in ascii latin1 all_high; do
	in=$dir/$input.txt
	for name in quoril floor copy before; do
		cp "$in" "$dir/$input.$name"
	done
	commands=("$quoril" "$in" "$dir/$input.quoril" /O
		-- "$floor" "$input" "$in" "$dir/$input.floor"
		-- /bin/cp "$in" "$dir/$input.copy")
	if [[ -n ${BEFORE:-} ]]; then
		commands+=(-- "$(realpath "$BEFORE")" "$in" "$dir/$input.before" /O)
	fi
	echo
	echo "$input: median of a run, and quoril / this (quartiles)"
	"$paired" "${ROUNDS:-400}" "${commands[@]}" | sed "s|$dir/||g"
done
