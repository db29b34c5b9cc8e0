#!/bin/sh
# usage: round_trip.sh TALLYFIX_COMMAND...
# objcopy writes an Intel HEX file (addresses past 64 KiB bring extended address
# records), its data checksums are spoiled, the tool must give back objcopy's
# file, and objcopy must read back the same bytes from it.
set -eu
head -c 200000 /dev/urandom >data.bin
objcopy -I binary -O ihex --change-addresses=0x12340 data.bin valid.hex
sed '/^:......00/s/..\r$/ZZ\r/' valid.hex >spoiled.hex
grep -q ZZ spoiled.hex # or this would prove nothing
"$@" spoiled.hex >repaired.hex
cmp repaired.hex valid.hex
objcopy -I ihex -O binary repaired.hex back.bin
cmp back.bin data.bin
# The image moved by hand, 4 KiB up in every address record, each one's
# checksum left stale, which objcopy refuses: fixed in place, objcopy loads
# it there.
sed 's/^\(:02000002.\)0/\11/' valid.hex >moved.hex
! objcopy -I ihex -O srec moved.hex moved.srec 2>/dev/null
"$@" --in-place moved.hex 2>/dev/null
objcopy -I ihex -O srec moved.hex moved.srec && grep -q '^S2..013340' moved.srec
objcopy -I ihex -O binary moved.hex back.bin && cmp back.bin data.bin

# The same for S-records as objcopy writes them: S19 (16-bit addresses), S28
# above 64 KiB, S37 forced, with records of 16 and 32 data bytes and of the
# most a line takes. The plain run gets every checksum of S0 to S3 spoiled,
# and in place each one's last digit moved on by one, as a hand edit would.
head -c 60000 /dev/urandom >small.bin
for made in "small.bin 0 --srec-len=16" "small.bin 0 --srec-len=32" \
	"data.bin 0x12340 --srec-len=16" "data.bin 0xFF0000 --srec-len=32" \
	"data.bin 0 --srec-forceS3 --srec-len=32" "data.bin 0x80000000 --srec-forceS3 --srec-len=250"; do
	bin=${made%% *} rest=${made#* } start=${rest%% *} options=${rest#* }
	# shellcheck disable=SC2086 # the options are words
	objcopy -I binary -O srec --change-addresses="$start" $options "$bin" valid.srec
	sed '/^S[0-3]/s/..\r$/ZZ\r/' valid.srec >spoiled.srec
	grep -q ZZ spoiled.srec
	"$@" spoiled.srec >repaired.srec
	cmp repaired.srec valid.srec
	"$@" --check valid.srec >findings.txt
	[ ! -s findings.txt ] # objcopy's own files are clean: S0 with the name, no S5
	sed -E '/^S[0-3]/{s/(.)(\r?)$/\n\1\n\2/;h;s/^.*\n(.)\n.*$/\1/;y/0123456789ABCDEF/123456789ABCDEF0/;G;s/^(.)\n(.*)\n.\n(.*)$/\2\1\3/}' valid.srec >in_place.srec
	! cmp -s in_place.srec valid.srec
	"$@" --in-place in_place.srec 2>/dev/null
	cmp in_place.srec valid.srec
	objcopy -I srec -O binary in_place.srec back.bin
	cmp back.bin "$bin"
done
