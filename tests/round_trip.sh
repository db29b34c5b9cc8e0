#!/bin/sh
# Round trip through objcopy: bytes changed by hand in an Intel HEX file,
# checksums left stale, must read back after the repair as the binary with
# the same bytes changed. Records of 16 bytes as objcopy writes them, and of
# 32 bytes joined from those, with extended address records above 64 KiB.
# usage: round_trip.sh OBJCOPY TALLYFIX_COMMAND...
set -eu
objcopy=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

head -c 300000 /dev/urandom >original.bin
cp original.bin edited.bin
for offset in 0 77 65535 150001 299998; do
	printf '\253\315' | dd of=edited.bin bs=1 seek=$offset conv=notrunc status=none
done
to_hex() { "$objcopy" -I binary -O ihex --change-addresses=0x12340 "$1" "$2"; }
to_hex original.bin original.hex
to_hex edited.bin valid.hex

# The edited data digits with the original, now stale, checksums.
tr -d '\r' <valid.hex >valid.lf
tr -d '\r' <original.hex >original.lf
paste -d ' ' valid.lf original.lf |
	awk '{ printf "%s%s\r\n", substr($1, 1, length($1) - 2), substr($2, length($2) - 1) }' >hand16.hex

# Neighbouring 16-byte records joined into 32-byte ones, checksums left as 00.
awk '
function value(hex,   i, v) {
	for (i = 1; i <= length(hex); i++)
		v = v * 16 + index("0123456789ABCDEF", substr(hex, i, 1)) - 1
	return v
}
function flush() { if (held != "") print held; held = "" }
{ sub(/\r$/, "") }
substr($0, 2, 2) == "10" && substr($0, 8, 2) == "00" {
	address = value(substr($0, 4, 4))
	if (held != "" && address == held_address + 16) {
		print ":20" substr(held, 4, 6) substr(held, 10, 32) substr($0, 10, 32) "00"
		held = ""
	} else {
		flush()
		held = $0
		held_address = address
	}
	next
}
{ flush(); print }
END { flush() }' hand16.hex >hand32.hex

grep -q '^:20' hand32.hex
for hand in hand16.hex hand32.hex; do
	if "$objcopy" -I ihex -O binary "$hand" stale.bin 2>/dev/null; then
		echo "objcopy accepted $hand with stale checksums: this test proves nothing"
		exit 1
	fi
	"$@" "$hand" >repaired.hex
	"$objcopy" -I ihex -O binary repaired.hex repaired.bin
	cmp repaired.bin edited.bin
done
echo "round trip through objcopy: ok"
