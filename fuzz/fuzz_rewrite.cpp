// Fuzz target: arbitrary bytes through the read-rewrite-write loop, in
// memory. Beyond surviving any input, a file of plain records (hexadecimal
// digits, a colon only at the start of a line, CR only before LF) writes no
// message, so its output must keep every line and terminator, differ only in
// checksum columns, hold correct checksums, and come back unchanged when run
// again.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hex_field.hpp"
#include "rewrite_stream.hpp"

namespace {

std::string run(const std::string &input)
{
	std::FILE *in = fmemopen(const_cast<char *>(input.data()), input.size(), "rb");
	char *bytes = nullptr;
	std::size_t size = 0;
	std::FILE *out = open_memstream(&bytes, &size);
	if (in == nullptr || out == nullptr)
		std::abort();
	// UTF-16 text, and only that, is refused.
	bool utf16 = input.rfind("\xFF\xFE", 0) == 0 || input.rfind("\xFE\xFF", 0) == 0;
	stream_result expected = utf16 ? stream_result::utf16_text : stream_result::ok;
	if (rewrite_stream(in, out) != expected)
		std::abort();
	std::fclose(in);
	std::fclose(out);
	std::string output(bytes, size);
	std::free(bytes);
	return output;
}

bool is_plain(const std::string &s)
{
	for (std::size_t i = 0; i < s.size(); ++i) {
		char c = s[i];
		bool line_start = i == 0 || s[i - 1] == '\n';
		bool ok = c == '\n' || (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ||
		          (c == ':' && line_start) ||
		          std::isxdigit(static_cast<unsigned char>(c)) != 0;
		if (!ok)
			return false;
	}
	return true;
}

std::vector<std::string> lines(const std::string &s)
{
	std::vector<std::string> result;
	for (std::size_t start = 0; start < s.size();) {
		std::size_t lf = s.find('\n', start);
		std::size_t end = lf == std::string::npos ? s.size() : lf + 1;
		result.push_back(s.substr(start, end - start));
		start = end;
	}
	return result;
}

std::size_t content_length(const std::string &line)
{
	std::size_t n = line.size();
	if (n > 0 && line[n - 1] == '\n')
		n -= n > 1 && line[n - 2] == '\r' ? 2 : 1;
	return n;
}

unsigned byte_at(const std::string &line, std::size_t column)
{
	return static_cast<unsigned>(std::stoul(line.substr(column, 2), nullptr, 16));
}

void check_line(const std::string &in, const std::string &out)
{
	std::size_t a = content_length(in);
	std::size_t b = content_length(out);
	if (in.substr(a) != out.substr(b))
		std::abort(); // the terminator changed
	std::string none;
	std::size_t checksum_at =
	    9 + 2 * static_cast<std::size_t>(read_hex_field(in.data(), a, 1, 2, none));
	bool grown = a >= checksum_at && a < checksum_at + 2 && b == checksum_at + 2;
	if (b != a && !grown)
		std::abort();
	for (std::size_t i = 0; i < a && i < b; ++i)
		if (i != checksum_at && i != checksum_at + 1 && in[i] != out[i])
			std::abort();
	if (a >= checksum_at && byte_at(in, 7) == 0) {
		unsigned sum = 0;
		for (std::size_t column = 1; column <= checksum_at; column += 2)
			sum += byte_at(out, column);
		if (sum % 256 != 0)
			std::abort();
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	const std::string input(reinterpret_cast<const char *>(data), size);
	const std::string output = run(input);
	if (!is_plain(input))
		return 0;
	const std::vector<std::string> in = lines(input);
	const std::vector<std::string> out = lines(output);
	if (in.size() != out.size() || run(output) != output)
		std::abort();
	for (std::size_t i = 0; i < in.size(); ++i)
		check_line(in[i], out[i]);
	return 0;
}
