#!/bin/sh
# Checks the Debian package: its files, its control fields, and that the
# tool it installs repairs the sample as the golden output says.
# usage: package.sh DEB SOURCE_DIR
set -eu
deb=$1
src=$2
fail() { echo "package: $*"; exit 1; }

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in ./usr/bin/tallyfix ./usr/share/man/man1/tallyfix.1 ./usr/share/doc/tallyfix/copyright; do
	echo "$files" | grep -qx "$path" || fail "$path missing"
done
[ "$(dpkg-deb -f "$deb" Package)" = tallyfix ] || fail "wrong Package"
[ "$(dpkg-deb -f "$deb" Version)" = 1.1 ] || fail "Version is not 1.1"
for field in Maintainer Description Depends Section Architecture; do
	[ -n "$(dpkg-deb -f "$deb" $field)" ] || fail "no $field"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/tallyfix" "$src/examples/sample.hex" | cmp - "$src/tests/data/sample.out"
man -l "$root/usr/share/man/man1/tallyfix.1" >/dev/null 2>&1 || fail "man page does not render"
groff -ww -z -man "$root/usr/share/man/man1/tallyfix.1" 2>&1 | (! grep .) || fail "man page warnings"
echo "package $(basename "$deb"): ok"
