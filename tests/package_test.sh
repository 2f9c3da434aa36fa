#!/usr/bin/env bash
# Builds a package with CPack, checks what it holds, unpacks it the way a
# user installs it, and converts the bundled sample with the installed
# program. The Debian package must pass lintian without an error or a
# warning.
#
#   package_test.sh deb CPACK BUILD_DIR SOURCE_DIR
#   package_test.sh zip CPACK BUILD_DIR SOURCE_DIR WINE
#
# Exits 77, which the test counts as skipped, when dpkg-deb or lintian is
# missing.
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
	for tool in dpkg-deb lintian; do
		if ! command -v $tool >/dev/null; then
			echo "skipped: $tool is not installed"
			exit 77
		fi
	done
	(cd "$build" && "$cpack" -G DEB -B "$work/out") >/dev/null
	package=$(ls "$work"/out/quoril_"$version"_*.deb) ||
		fail "no quoril_${version}_<arch>.deb"
	lintian --fail-on error,warning "$package" 2>&1 | grep -v 'root privileges' ||
		true
	lintian --fail-on error,warning "$package" >/dev/null 2>&1 ||
		fail "lintian finds errors or warnings"
	dpkg-deb -x "$package" "$work/root"
	for file in man/man1/quoril.1.gz doc/quoril/copyright \
	    doc/quoril/changelog.gz doc/quoril/LICENSE; do
		[ -f "$work/root/usr/share/$file" ] || fail "no /usr/share/$file"
	done
	program=("$work/root/usr/bin/quoril")
	;;
zip)
	(cd "$build" && "$cpack" -G ZIP -B "$work/out") >/dev/null
	package=$work/out/quoril-$version-win64.zip
	[ -f "$package" ] || fail "no quoril-$version-win64.zip"
	listing=$(cmake -E tar tf "$package")
	texts=(README.txt LICENSE.txt CHANGELOG.txt quoril.txt)
	for file in quoril.exe "${texts[@]}"; do
		grep -qx "$file" <<<"$listing" || fail "$file is not in the ZIP"
	done
	mkdir "$work/root"
	(cd "$work/root" && cmake -E tar xf "$package")
	for file in "${texts[@]}"; do
		! grep -q $'[^\r]$\|^$' "$work/root/$file" ||
			fail "$file has a line that does not end in CRLF"
	done
	# The version resource's texts are UTF-16; the manifest is ASCII.
	resource=$(strings -el -n 3 "$work/root/quoril.exe")
	for value in ProductName Quoril FileVersion ProductVersion "$version" \
	    LegalCopyright; do
		grep -qx "$value" <<<"$resource" ||
			fail "quoril.exe has no '$value' in its version resource"
	done
	grep -q 'level="asInvoker"' "$work/root/quoril.exe" ||
		fail "quoril.exe has no manifest asking for asInvoker"
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
