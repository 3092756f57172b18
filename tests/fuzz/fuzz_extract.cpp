// Extraction of arbitrary streams with one worker, each stream decoded as
// it stands (tests/fuzz/extract_harness.h has the input and the checks):
// the common case, at full speed. Switch bits 2 and 3 are the pieced
// target's; here they change nothing.
#include "extract_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static OrderedJobPool one_worker(1);
  return extract_and_check(data, size, one_worker, 0);
}
