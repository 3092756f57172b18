// Version stamp blocks: the search and parse over bytes in memory and in a
// file holding the same bytes, with filler in front that moves the input
// across the reader's read boundaries; the lookups; blanking in place.
#include <cstring>
#include <memory>
#include <string>

#include "memory_file.h"
#include "stamp/dbversion.h"

namespace {

// The file reader reads 8192 bytes at a time; fillers put the input's start
// just before the first and second boundaries. No marker begins in the
// filler.
size_t filler_for(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  switch (data[0] % 3) {
    case 0: return 0;
    case 1: return 8192 - 48 + data[0] % 48;
    default: return 2 * 8192 - 21 - 48 + data[0] % 48;
  }
}

bool same_parse(const dbversion_info& a, const dbversion_info& b) {
  if (a.num_args != b.num_args || a.num_exts != b.num_exts || a.data_length != b.data_length ||
      a.block_length != b.block_length || std::memcmp(a.data, b.data, a.data_length) != 0)
    return false;
  for (uint32_t i = 0; i < a.num_args; ++i) {
    if (a.args[i].name - a.data != b.args[i].name - b.data) return false;
    if (a.args[i].value - a.data != b.args[i].value - b.data) return false;
    if ((a.args[i].equals == nullptr) != (b.args[i].equals == nullptr)) return false;
  }
  for (uint32_t i = 0; i < a.num_exts; ++i) {
    if (a.exts[i].length != b.exts[i].length || a.exts[i].data - a.data != b.exts[i].data - b.data) return false;
  }
  return true;
}

void lookups(const dbversion_info& info) {
  for (uint32_t i = 0; i < info.num_args; ++i) {
    const int found = __Find_arg_index(&info, info.args[i].name);
    FUZZ_CHECK(found >= 0 && static_cast<uint32_t>(found) <= i, "a key is not found");
    FUZZ_CHECK(__Find_arg_safe(&info, info.args[i].name, nullptr) != nullptr, "no value");
  }
  FUZZ_CHECK(__Find_arg_safe(&info, "NO SUCH KEY", nullptr) != nullptr, "no fallback");
  for (uint32_t i = 0; i < info.num_exts; ++i) {
    FUZZ_CHECK(__Find_ext_index(&info, info.exts[i].id) >= 0, "an extension is not found");
    FUZZ_CHECK(info.exts[i].data + info.exts[i].length <= info.data + info.data_length, "extension data outside");
  }
  auto clone = std::make_unique<dbversion_info>();
  __Clone_dbversion_info(&info, clone.get());
  FUZZ_CHECK(same_parse(info, *clone), "the clone differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  auto scanned = std::make_unique<dbversion_info>();
  auto read = std::make_unique<dbversion_info>();
  const size_t filler = filler_for(data, size);
  std::string bytes(filler, 'x');
  bytes.append(reinterpret_cast<const char*>(data), size);
  const an_info_found in_memory = __Scan_dbversion_info(bytes.data(), bytes.size(), scanned.get());
  file.assign(bytes.data(), bytes.size());
  const an_info_found in_file = __Get_dbversion_info(file.path().c_str(), read.get(), 1);
  FUZZ_CHECK(in_memory == in_file, "the file search and the span search disagree");
  if (in_file != kInfoFound) return 0;
  FUZZ_CHECK(read->file_offset == scanned->file_offset, "found at another place");
  FUZZ_CHECK(same_parse(*scanned, *read), "the file parse and the span parse differ");
  lookups(*read);

  // Blanking an entry after MODULE and the extensions keeps the block
  // readable. (Blanking takes the first entry of a key, so a second key
  // equal to the first, "MODULE" itself, is not blanked.)
  const char* key = read->num_args > 1 && __Find_arg_index(read.get(), read->args[1].name) != 0
                        ? read->args[1].name
                        : nullptr;
  const std::string key_text = key != nullptr ? key : "";
  const uint32_t args = read->num_args;
  FUZZ_CHECK(__Zap_dbversion_info(file.path().c_str(), read.get(), key ? key_text.c_str() : nullptr, "A?") == 1,
             "blanking failed");
  FUZZ_CHECK(__Get_dbversion_info(file.path().c_str(), read.get(), 1) == kInfoFound, "a blanked block is lost");
  FUZZ_CHECK(read->num_args == args, "blanking changed the entries");
  return 0;
}
