// The table reader on arbitrary archive bytes: the decoder in memory and the
// file reader over the same bytes must load (or fail to load) the same
// tables, keyed and unkeyed; then the library operations of validate, list,
// space and options run over what was loaded.
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "crypto/archive_key.h"
#include "memory_file.h"
#include "tic/archive/tic.h"

namespace {

bool same_tables(const TicToc& a, const TicToc& b) {
  if (a.file_map.size() != b.file_map.size() || a.options.option_map.size() != b.options.option_map.size() ||
      a.options.description_map != b.options.description_map)
    return false;
  for (auto x = a.file_map.begin(), y = b.file_map.begin(); x != a.file_map.end(); ++x, ++y)
    if (x->first != y->first || std::memcmp(&x->second, &y->second, sizeof x->second) != 0) return false;
  for (auto x = a.options.option_map.begin(), y = b.options.option_map.begin(); x != a.options.option_map.end();
       ++x, ++y)
    if (x->first != y->first || std::memcmp(&x->second, &y->second, sizeof x->second) != 0) return false;
  return true;
}

// What list, space and options do with one archive.
void read_commands(Tic& tic) {
  tic.validate();
  const TicOptions& options = tic.get_toc().options;
  std::vector<std::string> selections = {"", "*"};
  for (const auto& [name, option] : options.option_map) {
    if (selections.size() == 6) break;
    selections.push_back(name);
  }
  if (options.option_map.size() >= 2)
    selections.push_back(options.option_map.begin()->first + "|" + options.option_map.rbegin()->first);
  for (const std::string& selection : selections) {
    TicToc with_stream;
    TicToc all;
    tic.list(with_stream, selection, false);
    tic.list(all, selection, true);
    FUZZ_CHECK(with_stream.file_map.size() <= all.file_map.size(), "listing all files lists fewer");
    unsigned long long listed = 0;
    for (const auto& [name, entry] : with_stream.file_map) listed += entry.file_size;
    FUZZ_CHECK(tic.bytes_required(selection) == listed, "space differs from the sizes listed");
  }
  CommandOptions command;
  ControlMap control;
  command.tic_options(tic, control);
  int asked = 0;
  for (const auto& [name, entry] : control) {
    if (entry.available && asked++ < 8) command.missing_files(tic, name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static const ArchiveKey key;
  file.assign(data, size);

  ByteSpan in(data, size);
  TicHeader header;
  bool swap = false;
  TicToc decoded;
  const bool loaded = header.decode_from(&in, &swap).ok() && decoded.decode_from(ByteSpan(data, size), header, swap).ok();

  for (const bool keyed : {false, true}) {
    Tic tic(file.path().c_str(), false, keyed ? key.bytes() : nullptr, keyed ? key.length() : 0);
    FUZZ_CHECK((tic.descriptor() != -1) == loaded, "the file reader and the decoder disagree");
    // A failed load leaves what was stored before the fault, in both.
    FUZZ_CHECK(same_tables(tic.get_toc(), decoded), "the file reader and the decoder load different tables");
    read_commands(tic);
  }
  return 0;
}
