// Record transform throughput in both directions, one 8192-byte block per
// call as the stream callbacks pass them.
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/record_transform.h"

namespace {

const unsigned char kKey[25] = {'b', 'e', 'n', 'c', 'h', 0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8,
                                0x09, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x71, 0x72, 0x73, 0x74};

void transform_blocks(benchmark::State& state, an_encrypt_dir direction) {
  std::vector<unsigned char> block(8192, 0x3C);
  an_encrypt_data data;
  __Encrypt_init(&data, direction, kKey, sizeof kKey);
  for (auto _ : state) {
    __Ins_Mangle_Record(&data, block.data(), static_cast<unsigned>(block.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(block.size()));
}

void BM_RecordTransformWriting(benchmark::State& state) { transform_blocks(state, ENCRYPT_WRITING); }
void BM_RecordTransformReading(benchmark::State& state) { transform_blocks(state, ENCRYPT_READING); }
BENCHMARK(BM_RecordTransformWriting);
BENCHMARK(BM_RecordTransformReading);

// The key schedule runs once per stored stream.
void BM_EncryptInit(benchmark::State& state) {
  an_encrypt_data data;
  for (auto _ : state) {
    __Encrypt_init(&data, ENCRYPT_READING, kKey, sizeof kKey);
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(BM_EncryptInit);

}  // namespace
