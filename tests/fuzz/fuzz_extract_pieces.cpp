// Extraction of arbitrary streams with two workers, each stream repeated
// until it is long enough to be decoded in pieces that the workers share
// (tests/fuzz/extract_harness.h has the input and the checks). The fuzz
// build cuts pieces of a kilobyte (tic/format/stream_pieces.h), so a few
// repetitions make several pieces.
#include "extract_harness.h"

#include "tic/format/stream_pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static OrderedJobPool two_workers(2);
  return extract_and_check(data, size, two_workers, 3 * kMinPieceStored);
}
