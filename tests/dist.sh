#!/bin/sh
# usage: dist.sh DIST SOURCE_DIR [OTHER_DIST]
# The release artefacts in DIST: the sums match; each Linux executable is
# static and repairs the sample, the x86-64 one alone in an empty root, the
# ARM ones under qemu-user; the Windows one is a console executable; the
# Debian packages pass package.sh. With OTHER_DIST, another build of the same
# commit: every artefact byte for byte the same.
set -eu
dist=$(cd "$1" && pwd) src=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$dist" && sha256sum --quiet -c SHA256SUMS)
sample() { cmp "$work/out" "$src/tests/data/sample.out"; }
for tarball in "$dist"/tallyfix-*-linux-*.tar.gz; do
	name=$(basename "$tarball" .tar.gz)
	tar -xzf "$tarball" -C "$work"
	tool=$work/$name/tallyfix
	file -b "$tool" | grep -q 'statically linked' || { echo "$name: not static"; exit 1; }
	case $name in
	*-x86_64)
		mkdir "$work/root" && cp "$tool" "$src/examples/sample.hex" "$work/root/"
		chroot "$work/root" /tallyfix /sample.hex >"$work/out" && sample ;;
	*-aarch64) qemu-aarch64 "$tool" "$src/examples/sample.hex" >"$work/out" && sample ;;
	*-armhf) qemu-arm "$tool" "$src/examples/sample.hex" >"$work/out" && sample ;;
	esac
	ls "$work/$name/tallyfix.1" "$work/$name/NOTICES" "$work/$name/licenses/GPL-3" \
		"$work/$name/docs/reference.md" >/dev/null
done
unzip -q "$dist"/tallyfix-*-windows-x86_64.zip -d "$work"
file -b "$work"/tallyfix-*-windows-x86_64/tallyfix.exe | grep -q 'PE32+ executable (console) x86-64'
sh "$src/tests/package.sh" "$dist"/tallyfix_*_amd64.deb "$src"
sh "$src/tests/package.sh" "$dist"/tallyfix_*_arm64.deb "$src" qemu-aarch64 -L /usr/aarch64-linux-gnu
if [ $# -gt 2 ]; then
	for artefact in "$dist"/*; do cmp "$artefact" "$3/$(basename "$artefact")"; done
	[ "$(ls "$dist")" = "$(ls "$3")" ]
fi
