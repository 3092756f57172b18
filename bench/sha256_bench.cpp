// SHA-256 throughput on each engine, over the 8192-byte chunks the archive
// reads in and over larger buffers, and through the HMAC that wraps it.
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/hmac.h"
#include "crypto/sha256.h"
#include "crypto/sha256_engine.h"

namespace {

// Selects |engine| for one benchmark; false (and the benchmark skipped) when
// the processor lacks it. The engine the program would choose is restored
// by the next benchmark's own selection.
bool select(benchmark::State& state, Sha256Engine engine) {
  if (sha256_select_engine(engine)) return true;
  state.SkipWithError("this processor has no SHA extensions");
  return false;
}

void sha256(benchmark::State& state, Sha256Engine engine) {
  if (!select(state, engine)) return;
  std::vector<unsigned char> data(static_cast<size_t>(state.range(0)), 0xA5);
  unsigned char digest[UT_SHA256_DIGEST_LENGTH];
  for (auto _ : state) {
    UT_SHA256_CTX ctx;
    UT_SHA256_Init(&ctx);
    UT_SHA256_Update(&ctx, data.data(), data.size());
    UT_SHA256_Final(&ctx, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void hmac(benchmark::State& state, Sha256Engine engine) {
  if (!select(state, engine)) return;
  std::vector<unsigned char> data(static_cast<size_t>(state.range(0)), 0x5A);
  const unsigned char key[25] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
  unsigned char mac[kHmacLength];
  for (auto _ : state) {
    hmac_sha256(key, sizeof key, data.data(), data.size(), mac);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Sha256Portable(benchmark::State& state) { sha256(state, Sha256Engine::kPortable); }
void BM_Sha256Extensions(benchmark::State& state) { sha256(state, Sha256Engine::kShaExtensions); }
void BM_HmacSha256Portable(benchmark::State& state) { hmac(state, Sha256Engine::kPortable); }
void BM_HmacSha256Extensions(benchmark::State& state) { hmac(state, Sha256Engine::kShaExtensions); }
BENCHMARK(BM_Sha256Portable)->Arg(64)->Arg(8192)->Arg(1 << 20);
BENCHMARK(BM_Sha256Extensions)->Arg(64)->Arg(8192)->Arg(1 << 20);
BENCHMARK(BM_HmacSha256Portable)->Arg(8192)->Arg(1 << 20);
BENCHMARK(BM_HmacSha256Extensions)->Arg(8192)->Arg(1 << 20);

}  // namespace
