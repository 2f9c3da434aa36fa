#!/usr/bin/env bash
# Builds a package with CPack, unpacks it the way a user installs it, and
# converts the bundled sample with the installed program.
#
#   package_test.sh deb CPACK BUILD_DIR SOURCE_DIR
#   package_test.sh zip CPACK BUILD_DIR SOURCE_DIR WINE
#
# Exits 77, which the test counts as skipped, when dpkg-deb is missing.
set -euo pipefail
kind=$1 cpack=$2 build=$(realpath "$3") source=$(realpath "$4") wine=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
case $kind in
deb)
	if ! command -v dpkg-deb >/dev/null; then
		echo "skipped: dpkg-deb is not installed"
		exit 77
	fi
	(cd "$build" && "$cpack" -G DEB -B "$work/out") >/dev/null
	package=$(ls "$work"/out/quoril_"$version"_*.deb) ||
		fail "no quoril_${version}_<arch>.deb"
	dpkg-deb -x "$package" "$work/root"
	[ -f "$work/root/usr/share/man/man1/quoril.1" ] || fail "no manual page"
	program=("$work/root/usr/bin/quoril")
	;;
zip)
	(cd "$build" && "$cpack" -G ZIP -B "$work/out") >/dev/null
	package=$work/out/quoril-$version-win64.zip
	[ -f "$package" ] || fail "no quoril-$version-win64.zip"
	listing=$(cmake -E tar tf "$package")
	for file in quoril.exe README.md LICENSE; do
		grep -qx "$file" <<<"$listing" || fail "$file is not in the ZIP"
	done
	mkdir "$work/root"
	(cd "$work/root" && cmake -E tar xf "$package")
	program=("$wine" "$work/root/quoril.exe")
	;;
*)
	fail "unknown kind $kind"
	;;
esac

cp "$source/examples/sample.txt" "$work/sample.txt"
cd "$work"
status=0
out=$("${program[@]}" sample.txt sample.html) || status=$?
[ "$status" -eq 21 ] || fail "exit status $status, not 21: $out"
[ "$(tail -n 1 <<<"$out" | tr -d '\r')" = "21 character(s) replaced." ] ||
	fail "unexpected output: $out"
cmp sample.html "$source/examples/sample.html" || fail "the converted sample differs"
echo "ok: $(basename "$package") installs and converts the sample"
