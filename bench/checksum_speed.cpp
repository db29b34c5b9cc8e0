// Benchmark: the throughput of each checksum over 256 MiB of random bytes
// fed in 1 MiB pieces, the median of 5 runs, and the time of a 4 GiB fill.
// Times are the process's processor time, so that a build running beside
// it on a shared machine counts for less. It prints figures; it fails only
// when a check value is wrong.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "checksums.hpp"

namespace {

const std::size_t total = std::size_t{256} << 20;
const std::size_t piece = std::size_t{1} << 20;
const int runs = 5;

double seconds_since(std::clock_t start)
{
	return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

double median_gbps(checksum_state &state, const std::vector<unsigned char> &bytes)
{
	std::vector<double> rates;
	std::uint32_t first = 0;
	for (int run = 0; run < runs; ++run) {
		const checksum_algorithm algorithm = state.algorithm;
		const std::clock_t start = std::clock();
		begin_checksum(state, algorithm);
		for (std::size_t at = 0; at < bytes.size(); at += piece) {
			add_bytes(state, bytes.data() + at, piece);
		}
		const std::uint32_t value = checksum_value(state);
		rates.push_back(static_cast<double>(bytes.size()) / seconds_since(start) / 1e9);
		if (run > 0 && value != first) {
			std::printf("%s: a different value in run %d\n", algorithm.name.c_str(),
			            run);
		}
		first = value;
	}
	std::sort(rates.begin(), rates.end());
	return rates[runs / 2];
}

double fill_microseconds(checksum_state &state)
{
	const int calls = 1000;
	const std::clock_t start = std::clock();
	for (int i = 0; i < calls; ++i) {
		add_fill(state, 0xFF, std::uint64_t{1} << 32);
	}
	return seconds_since(start) / calls * 1e6;
}

} // namespace

int main()
{
	std::vector<unsigned char> bytes(total);
	std::mt19937_64 random(20240601);
	for (std::size_t i = 0; i < total; i += 8) {
		const std::uint64_t word = random();
		for (std::size_t j = 0; j < 8; ++j) {
			bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
		}
	}
	std::vector<std::string> names{"sum8", "sum32"};
	for (std::size_t i = 0; i < checksum_preset_count; ++i) {
		names.emplace_back(checksum_presets[i].name);
	}
	int status = 0;
	auto state = std::make_unique<checksum_state>();
	std::printf("%-20s %8s %14s\n", "algorithm", "GB/s", "4 GiB fill us");
	for (const std::string &name : names) {
		checksum_algorithm algorithm;
		find_checksum(name, algorithm);
		begin_checksum(*state, algorithm);
		add_bytes(*state, reinterpret_cast<const unsigned char *>("123456789"), 9);
		for (std::size_t i = 0; i < checksum_preset_count; ++i) {
			if (checksum_presets[i].name == name &&
			    checksum_value(*state) != checksum_presets[i].check) {
				std::printf("%s: wrong check value\n", name.c_str());
				status = 1;
			}
		}
		const double gbps = median_gbps(*state, bytes);
		std::printf("%-20s %8.2f %14.2f\n", name.c_str(), gbps, fill_microseconds(*state));
	}
	return status;
}
