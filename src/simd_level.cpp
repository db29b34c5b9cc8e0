// Which fast path the processor can take. The only place that asks: the
// rest of the tool takes the level as a parameter.
#include "simd_level.hpp"

simd_level best_simd_level()
{
#if defined(__GNUC__) && defined(__x86_64__)
	// AVX2 is asked of the processor, so that one binary runs on every
	// x86-64; SSE2 is part of all of them.
	return __builtin_cpu_supports("avx2") != 0 ? simd_level::avx2 : simd_level::sse2;
#elif defined(__SSE2__) || defined(_M_X64)
	return simd_level::sse2;
#else
	return simd_level::table;
#endif
}
