#!/usr/bin/env bash
# Builds the program and its packages twice from the same source, in two
# folders of different names a moment apart, and checks that they come out
# byte for byte the same: quoril and the Debian package, and, where
# MinGW-w64 is installed, quoril.exe and the Windows ZIP.
#
#   reproducible_test.sh SOURCE_DIR CPACK
set -euo pipefail
source=$(realpath "$1") cpack=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

# build FOLDER GENERATOR [CMAKE ARGUMENTS]: builds and packages into FOLDER.
build() {
	local dir=$1 generator=$2
	shift 2
	cmake -S "$source" -B "$dir" -DQUORIL_BUILD_TESTS=OFF \
		-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON "$@" >/dev/null
	cmake --build "$dir" -j2 >/dev/null
	(cd "$dir" && "$cpack" -G "$generator" -B "$dir/out") >/dev/null
}

# same PATTERN...: the file each pattern names in a build folder is the
# same in both.
same() {
	for pattern in "$@"; do
		# shellcheck disable=SC2086 # the pattern is meant to expand
		a=$(cd "$work/first" && sha256sum $pattern)
		# shellcheck disable=SC2086
		b=$(cd "$work/second-build" && sha256sum $pattern)
		echo "$a"
		[ "$a" = "$b" ] || fail "$pattern differs between the two builds: $b"
	done
}

build "$work/first" DEB
sleep 2
build "$work/second-build" DEB
same quoril out/quoril_*.deb

if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
	toolchain=-DCMAKE_TOOLCHAIN_FILE=$source/cmake/mingw-w64-x86_64.cmake
	rm -rf "$work/first" "$work/second-build"
	build "$work/first" ZIP "$toolchain"
	sleep 2
	build "$work/second-build" ZIP "$toolchain"
	same quoril.exe out/quoril-*-win64.zip
fi
echo "ok: two builds are byte for byte the same"
