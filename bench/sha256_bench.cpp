// SHA-256 throughput over the 8192-byte chunks the archive reads in, and
// through the HMAC that wraps it.
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/hmac.h"
#include "crypto/sha256.h"

namespace {

void BM_Sha256(benchmark::State& state) {
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
BENCHMARK(BM_Sha256)->Arg(64)->Arg(8192)->Arg(1 << 20);

void BM_HmacSha256(benchmark::State& state) {
  std::vector<unsigned char> data(static_cast<size_t>(state.range(0)), 0x5A);
  const unsigned char key[25] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
  unsigned char mac[kHmacLength];
  for (auto _ : state) {
    hmac_sha256(key, sizeof key, data.data(), data.size(), mac);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_HmacSha256)->Arg(8192)->Arg(1 << 20);

}  // namespace
