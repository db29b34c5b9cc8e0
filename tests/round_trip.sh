#!/bin/sh
# Round trip through objcopy, in the current directory: it writes an Intel
# HEX file, the checksums of its data records are spoiled, the tool must give
# back objcopy's file, and objcopy must read back the same bytes from it.
# Addresses above 64 KiB bring extended address records.
# usage: round_trip.sh TALLYFIX_COMMAND...
set -eu
head -c 200000 /dev/urandom >data.bin
objcopy -I binary -O ihex --change-addresses=0x12340 data.bin valid.hex
sed '/^:......00/s/..\r$/ZZ\r/' valid.hex >spoiled.hex
grep -q ZZ spoiled.hex # or this would prove nothing
"$@" spoiled.hex >repaired.hex
cmp repaired.hex valid.hex
objcopy -I ihex -O binary repaired.hex back.bin
cmp back.bin data.bin
