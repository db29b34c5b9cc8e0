// The instruction set the fast paths use, chosen once and passed down, so
// that every path can be driven on one machine.
#pragma once

// Each level has the instructions of the ones before it.
enum class simd_level { table, sse2, avx2 };

// The best level this processor runs.
simd_level best_simd_level();
