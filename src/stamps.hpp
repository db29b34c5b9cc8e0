// The image's own checksums (--crc): a CRC or sum over a range of the
// image, computed from the bytes the records put there, with gaps counted
// as the fill, and the value written at an address as --set writes bytes,
// or compared with what is stored there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "checksums.hpp"
#include "edits.hpp"
#include "image.hpp"

// Bytes in address order on their way into a checksum, in groups fed
// last byte first (reverse=).
struct range_feed {
	unsigned group;
	unsigned char pending[4];
	unsigned filled;
};

// One --crc as given.
struct crc_stamp {
	checksum_algorithm algorithm;
	std::uint64_t from, to; // the range, to not included
	std::uint64_t at;       // where the value is stored, or no_address: it is only said
	bool big_endian;
	int fill;         // the byte a gap counts as, or -1: a gap is an error
	unsigned reverse; // bytes fed in reverse order in groups of this many, counted from from
};

// How many bytes the stamp's value takes.
unsigned stored_size(const crc_stamp &stamp);

// The image the stamps need: their ranges and stored values, the first byte
// of each stored value watched.
void begin_stamp_image(image_bytes &image, const std::vector<crc_stamp> &stamps);

// What one stamp came to on an image: its value and the bytes stored, or
// why it has none.
struct stamp_value {
	std::uint32_t value;
	std::string bytes;
	std::string problem; // or ""
	// What the image held where the value goes, before it went in: the
	// bytes, and whether each was held.
	std::string stored;
	std::vector<bool> held;
};

// Each stamp in order, over the image with the edits' bytes written in
// first. Chained, each value with at goes into the image before the next
// is computed, so that a later range may hold it, as the values are
// written; else each is of the bytes as the file has them, as --check
// compares them.
std::vector<stamp_value> compute_stamps(image_bytes &image, const std::vector<crc_stamp> &stamps,
                                        const edit_plan &edits, bool chained);

// Whether the stamps can be computed as the records come: not chained,
// or none of their ranges holds the value of a stamp before it.
bool can_stream(const std::vector<crc_stamp> &stamps, bool chained);

// One stamp under way as the records come: bytes up to next fed.
struct running_stamp {
	checksum_state state;
	range_feed feed;
	std::uint64_t next;
	std::uint64_t gap; // the first address of a gap, or no_address
	std::string batch; // the bytes up to next not yet fed, fed many records at a time
};

// The stamps computed as the records come, nothing of the ranges kept: for
// a file whose records come in address order, without overlaps in the
// ranges, as most have them; out_of_order where they do not, and then the
// values are to be computed from an image kept whole (compute_stamps).
struct stamp_stream {
	const std::vector<crc_stamp> *stamps;
	const edit_plan *edits;
	std::vector<running_stamp> running;
	image_bytes stored; // the bytes where values are stored
	bool out_of_order;
};

// The image is to hand its bytes to the stream instead of keeping them.
void begin_stamp_stream(stamp_stream &stream, image_bytes &image,
                        const std::vector<crc_stamp> &stamps, const edit_plan &edits);

// The values, once the file is read, unless out_of_order.
std::vector<stamp_value> end_stamp_stream(stamp_stream &stream, const image_bytes &image);

// Why the stamps cannot all be written as given, or "": a value stored in
// the range of an earlier stamp (which it would make wrong), or over that
// of another, or over bytes --set sets.
std::string stamp_conflict(const std::vector<crc_stamp> &stamps,
                           const std::vector<byte_edit> &edits);

// The edits of a run with stamps: the --set edits, then each stored value,
// as bytes of zero where values is empty (to find the records that hold
// them before the values are known).
std::vector<byte_edit> stamped_edits(const std::vector<byte_edit> &edits,
                                     const std::vector<crc_stamp> &stamps,
                                     const std::vector<stamp_value> &values);

// "crc-32/iso-hdlc of 0x08000000-0x0801FFFB".
std::string stamp_range_words(const crc_stamp &stamp);

// The value in hexadecimal, two digits a stored byte: "1A2B3C4D".
std::string value_digits(const crc_stamp &stamp, std::uint32_t value);

// "crc-32/iso-hdlc of 0x08000000-0x0801FFFB: 0x1A2B3C4D", for a stamp
// without at.
std::string said_value_words(const crc_stamp &stamp, const stamp_value &value);

// What --check finds of a stamp with at, on the image of a whole file, or
// "" when the stored value is right; and where: the line and column of
// the stored value's first digit, or line 0 when no record holds it.
std::string check_stamp_words(const crc_stamp &stamp, const stamp_value &value,
                              const image_bytes &image, std::size_t &line, std::size_t &column);

// What a write of the stamps is said as, each with the address whose line
// is said after it: "crc-32/iso-hdlc 1A2B3C4D written at 0x0801FFFC".
void note_stamped(edit_progress &progress, const std::vector<crc_stamp> &stamps,
                  const std::vector<stamp_value> &values);
