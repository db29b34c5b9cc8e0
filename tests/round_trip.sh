#!/bin/sh
# usage: round_trip.sh TALLYFIX_COMMAND...
# objcopy writes a HEX file (addresses past 64 KiB bring extended address
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
