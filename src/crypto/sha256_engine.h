// The SHA-256 compression function and the engines that run it.
//
// UT_SHA256_Update and UT_SHA256_Final run whole 64-byte blocks through one
// process-wide engine: the processor's SHA extensions (x86-64) when it has
// them, found at the first use, else the portable code. Both give the same
// digests; the choice only changes the speed. Tests and benchmarks select an
// engine to run both on a machine that has the extensions.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Sha256Engine {
  kPortable,       // plain C++, on every processor
  kShaExtensions,  // the x86-64 SHA instructions
};

// The 64 round constants, aligned for the extension engine, which loads
// them four to a vector in the order the rounds take them.
alignas(16) extern const uint32_t kSha256RoundConstants[64];

// The compression function over |blocks| consecutive 64-byte blocks of |data|.
using Sha256Compress = void (*)(uint32_t state[8], const unsigned char* data, size_t blocks);

void sha256_compress_portable(uint32_t state[8], const unsigned char* data, size_t blocks);

// True when this processor can run the SHA-extension engine (SHA, SSSE3 and
// SSE4.1 instructions, asked of cpuid). Always false off x86-64.
bool sha256_extensions_supported();

// The SHA-extension compression function. REQUIRES:
// sha256_extensions_supported().
void sha256_compress_extensions(uint32_t state[8], const unsigned char* data, size_t blocks);

// The engine every later SHA-256 step runs on.
Sha256Engine sha256_engine();

// Makes every later SHA-256 step in the process run on |engine|, also in a
// hash already started. False, and no change, when this processor cannot run
// it.
bool sha256_select_engine(Sha256Engine engine);

// The compression function of the current engine.
Sha256Compress sha256_compress();
