#!/bin/sh
# Checks the Debian package: its files, its control fields, what lintian
# says of it, and that the tool it installs repairs the sample as the golden
# output says.
# usage: package.sh DEB SOURCE_DIR
set -eu
deb=$1
src=$2
fail() { echo "package: $*"; exit 1; }

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in ./usr/bin/tallyfix ./usr/share/man/man1/tallyfix.1.gz \
	./usr/share/doc/tallyfix/copyright ./usr/share/doc/tallyfix/changelog.gz; do
	echo "$files" | grep -qx "$path" || fail "$path missing"
done
[ "$(dpkg-deb -f "$deb" Package)" = tallyfix ] || fail "wrong Package"
[ "$(dpkg-deb -f "$deb" Version)" = 1.1 ] || fail "Version is not 1.1"
for field in Maintainer Description Depends Section Architecture; do
	[ -n "$(dpkg-deb -f "$deb" $field)" ] || fail "no $field"
done
# The C++ runtime is linked in: the C library is all it needs.
dpkg-deb -f "$deb" Depends | grep -q 'libstdc++' && fail "depends on libstdc++"
lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian: $(lintian "$deb" 2>&1)"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/tallyfix" "$src/examples/sample.hex" | cmp - "$src/tests/data/sample.out"
man=$root/usr/share/man/man1/tallyfix.1.gz
man -l "$man" >/dev/null 2>&1 || fail "man page does not render"
zcat "$man" | groff -ww -z -man 2>&1 | (! grep .) || fail "man page warnings"
echo "package $(basename "$deb"): ok"
