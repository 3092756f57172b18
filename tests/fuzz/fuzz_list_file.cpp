// The list reader on arbitrary text, and the writer: whatever the reader
// loads with at most 32 options the writer can write, and what it writes
// reads back as the same table.
#include <cstring>
#include <string>
#include <string_view>

#include "memory_file.h"
#include "tic/format/format_steps.h"
#include "tic/format/toc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TicToc toc;
  if (const Outcome listed = toc.decode_list(text); !listed) {
    const a_step step = listed.failure().step;
    FUZZ_CHECK(step == kStepInvalidEntry || step == kStepDuplicateFile, "an unknown list error");
    return 0;
  }
  std::string written;
  // A loaded list holds nothing the text form cannot carry; from the 33rd
  // option on bit values repeat and the writer may find no order of lines.
  if (const Outcome encoded = toc.encode_list(&written); !encoded) {
    const std::string why = encoded.failure().cause;
    FUZZ_CHECK(toc.options.option_map.size() > 32, why.c_str());
    FUZZ_CHECK(why == "masks not spelled by options" || why == "option in no entry", why.c_str());
    return 0;
  }

  TicToc back;
  const Outcome read_back = back.decode_list(written);
  FUZZ_CHECK(read_back.ok(), read_back.failure().line().c_str());
  FUZZ_CHECK(back.file_map.size() == toc.file_map.size(), "files differ");
  for (auto x = toc.file_map.begin(), y = back.file_map.begin(); x != toc.file_map.end(); ++x, ++y) {
    FUZZ_CHECK(x->first == y->first, "file names differ");
    FUZZ_CHECK(std::memcmp(&x->second, &y->second, sizeof x->second) == 0, "entries differ");
  }
  FUZZ_CHECK(back.options.option_map.size() == toc.options.option_map.size(), "options differ");
  for (auto x = toc.options.option_map.begin(), y = back.options.option_map.begin();
       x != toc.options.option_map.end(); ++x, ++y) {
    FUZZ_CHECK(x->first == y->first, "option names differ");
    FUZZ_CHECK(std::memcmp(&x->second, &y->second, sizeof x->second) == 0, "option records differ");
  }
  std::string again;
  FUZZ_CHECK(back.encode_list(&again).ok() && again == written, "writing is not stable");
  return 0;
}
