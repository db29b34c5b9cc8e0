#!/bin/sh
# usage: package.sh DEB SOURCE_DIR [RUNNER...]
# lintian finds no error or warning, the package depends on the C library
# alone, and the tool it installs repairs the sample (run by RUNNER, such as
# qemu-user, for another processor's package).
set -eu
deb=$1 src=$2
shift 2
lintian --fail-on error,warning "$deb"
fields=$(dpkg-deb -f "$deb" Package Version Depends | tr '\n' ' ')
echo "$fields" | grep -qx 'Package: tallyfix Version: 1.1 Depends: libc6 (>= [0-9.]*) ' ||
	{ echo "package: unexpected fields: $fields"; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
"$@" "$root/usr/bin/tallyfix" "$src/examples/sample.hex" | cmp - "$src/tests/data/sample.out"
