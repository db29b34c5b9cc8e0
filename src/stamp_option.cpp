// --crc=ALGORITHM,KEY=VALUE...: every key once, each checked against the
// others, so that nothing is guessed about a value the device checks.
#include "stamp_option.hpp"

#include <algorithm>
#include <cctype>
#include <map>

#include "edit_values.hpp"

namespace {

bool refuse(std::string &reason, const std::string &why)
{
	reason = why;
	return false;
}

// Hexadecimal digits, after 0x or not, up to limit.
bool read_hex(const std::string &text, std::uint64_t limit, std::uint64_t &value)
{
	const bool prefixed =
	    text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
	return read_number(prefixed ? text : "0x" + text, limit, value);
}

// A length: decimal or 0x, times 1024 with K and 1024 * 1024 with M.
bool read_length(std::string text, std::uint64_t &length)
{
	std::uint64_t unit = 1;
	if (!text.empty() && (text.back() == 'K' || text.back() == 'M')) {
		unit = text.back() == 'K' ? 1024 : 1024 * 1024;
		text.pop_back();
	}
	if (!read_number(text, address_space / unit, length))
		return false;
	length *= unit;
	return length != 0;
}

const char range_words[] = "range= is START-END, END included (0x08000000-0x0801FFFB), or "
                           "START+LENGTH (0x08000000+128K)";

bool read_range(const std::string &text, crc_stamp &stamp, std::string &reason)
{
	const std::size_t mark = text.find_first_of("-+");
	std::uint64_t end = 0;
	if (mark == std::string::npos ||
	    !read_number(text.substr(0, mark), address_space - 1, stamp.from))
		return refuse(reason, range_words);
	const std::string rest = text.substr(mark + 1);
	if (text[mark] == '-' && (!read_number(rest, address_space - 1, end) || end < stamp.from))
		return refuse(reason, range_words);
	if (text[mark] == '+' && !read_length(rest, end))
		return refuse(reason,
		              "the length after + is decimal without a leading 0, or 0x and "
		              "hexadecimal digits, with K or M after it or not, and not 0");
	if (text[mark] == '+' && end > address_space - stamp.from)
		return refuse(reason, text + ": the range runs past 0xFFFFFFFF");
	stamp.to = text[mark] == '-' ? end + 1 : stamp.from + end;
	return true;
}

bool read_bool(const std::string &text, bool &value)
{
	value = text == "true";
	return text == "true" || text == "false";
}

std::string lower(std::string text)
{
	for (char &c : text)
		c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
	return text;
}

// The keys each algorithm takes besides range=, at=, order=, fill= and reverse=.
const char *const custom_keys[] = {"width", "poly", "init", "refin", "refout", "xorout"};

bool read_custom(std::map<std::string, std::string> &keys, checksum_algorithm &a,
                 std::string &reason)
{
	for (const char *key : custom_keys)
		if (keys.count(key) == 0)
			return refuse(reason,
			              std::string("custom needs width=, poly=, init=, refin=, "
			                          "refout= and xorout=: ") +
			                  key + "= is missing");
	std::uint64_t width = 0, poly = 0, init = 0, xorout = 0;
	if (!read_number(keys["width"], 32, width) || width < 8)
		return refuse(reason, "width= is 8 to 32");
	const std::uint64_t largest = (std::uint64_t{1} << width) - 1;
	if (!read_hex(keys["poly"], largest, poly) || !read_hex(keys["init"], largest, init) ||
	    !read_hex(keys["xorout"], largest, xorout))
		return refuse(reason,
		              "poly=, init= and xorout= are hexadecimal, of width bits at most");
	if (!read_bool(keys["refin"], a.refin) || !read_bool(keys["refout"], a.refout))
		return refuse(reason, "refin= and refout= are true or false");
	a.width = static_cast<unsigned>(width);
	a.poly = static_cast<std::uint32_t>(poly);
	a.init = static_cast<std::uint32_t>(init);
	a.xorout = static_cast<std::uint32_t>(xorout);
	for (const char *key : custom_keys)
		keys.erase(key);
	return true;
}

bool read_algorithm(const std::string &name, std::map<std::string, std::string> &keys,
                    checksum_algorithm &a, std::string &reason)
{
	if (lower(name) == "custom") {
		a = checksum_algorithm{
		    "custom", false, 0, 0, 0, false, false, 0, sum_complement::none};
		return read_custom(keys, a, reason);
	}
	if (!find_checksum(name, a))
		return refuse(reason,
		              name + " is no algorithm tallyfix knows: " + checksum_names());
	if (keys.count("complement") == 0)
		return true;
	const std::string complement = keys["complement"];
	keys.erase("complement");
	if (!a.is_sum)
		return refuse(reason, "complement= is for sum8, sum16 and sum32");
	if (complement != "ones" && complement != "twos")
		return refuse(reason, "complement= is ones or twos");
	a.complement = complement == "ones" ? sum_complement::ones : sum_complement::twos;
	a.name += complement == "ones" ? " (ones' complement)" : " (two's complement)";
	return true;
}

// Every KEY=VALUE after the name, each once.
bool read_keys(const std::string &text, std::string &name, std::map<std::string, std::string> &keys,
               std::string &reason)
{
	std::size_t from = 0, comma = 0;
	for (bool first = true; comma != std::string::npos; first = false, from = comma + 1) {
		comma = text.find(',', from);
		const std::string part = text.substr(from, comma - from);
		const std::size_t equals = part.find('=');
		if (first) {
			name = part;
			continue;
		}
		if (equals == std::string::npos || equals == 0)
			return refuse(reason, "after the algorithm come KEY=VALUE parts: " + part);
		if (!keys.emplace(part.substr(0, equals), part.substr(equals + 1)).second)
			return refuse(reason, part.substr(0, equals) + "= is given twice");
	}
	if (name.empty())
		return refuse(reason, "it starts with the algorithm: crc-32,range=...");
	return true;
}

bool read_at(const std::string &text, crc_stamp &stamp, std::string &reason)
{
	if (!read_number(text, address_space - 1, stamp.at) ||
	    stored_size(stamp) > address_space - stamp.at)
		return refuse(reason,
		              "at= is an address, 0x and hexadecimal digits or decimal "
		              "without a leading 0, with room for the value below 0x100000000");
	if (stamp.at < stamp.to && stamp.at + stored_size(stamp) > stamp.from)
		return refuse(reason, "the value at " + address_text(stamp.at) +
		                          " would be inside its own range");
	return true;
}

// order=, fill= and reverse=, each checked against the range and width.
bool read_layout(std::map<std::string, std::string> &keys, crc_stamp &stamp, std::string &reason)
{
	const bool ordered = keys.count("order") != 0;
	if (ordered && keys["order"] != "le" && keys["order"] != "be")
		return refuse(reason, "order= is le (little-endian) or be (big-endian)");
	stamp.big_endian = ordered && keys["order"] == "be";
	if (!ordered && stamp.at != no_address && stored_size(stamp) > 1)
		return refuse(reason,
		              "order=le or order=be is needed: the byte order of the stored "
		              "value, which conventions differ on");
	std::uint64_t fill = 0xFF;
	if (keys.count("fill") != 0 && keys["fill"] != "none" &&
	    !read_hex(keys["fill"], 0xFF, fill))
		return refuse(reason, "fill= is a byte, hexadecimal (FF), or none");
	stamp.fill =
	    keys.count("fill") != 0 && keys["fill"] == "none" ? -1 : static_cast<int>(fill);
	stamp.reverse = 1;
	if (keys.count("reverse") != 0 && keys["reverse"] != "2" && keys["reverse"] != "4")
		return refuse(reason, "reverse= is 2 or 4");
	if (keys.count("reverse") != 0)
		stamp.reverse = static_cast<unsigned>(keys["reverse"][0] - '0');
	if ((stamp.to - stamp.from) % stamp.reverse != 0)
		return refuse(reason, "with reverse=" + std::to_string(stamp.reverse) +
		                          " the range's length must be a multiple of " +
		                          std::to_string(stamp.reverse));
	for (const char *key : {"order", "fill", "reverse"})
		keys.erase(key);
	return true;
}

} // namespace

bool read_stamp(const std::string &text, crc_stamp &stamp, std::string &reason)
{
	std::string name;
	std::map<std::string, std::string> keys;
	stamp = crc_stamp{};
	stamp.at = no_address;
	if (!read_keys(text, name, keys, reason) ||
	    !read_algorithm(name, keys, stamp.algorithm, reason))
		return false;
	if (keys.count("range") == 0)
		return refuse(reason, std::string("range= is needed: ") + range_words);
	if (!read_range(keys["range"], stamp, reason))
		return false;
	if (keys.count("at") != 0 && !read_at(keys["at"], stamp, reason))
		return false;
	keys.erase("range");
	keys.erase("at");
	if (!read_layout(keys, stamp, reason))
		return false;
	if (!keys.empty())
		return refuse(reason,
		              keys.begin()->first +
		                  "= is not taken here: range=, at=, order=, fill=, reverse=, "
		                  "with custom width=, poly=, init=, refin=, refout=, xorout=, "
		                  "with a sum complement=");
	return true;
}
