// Writes a set of archives with a large table of contents and no payload,
// for timing the commands that only read tables: list, space and options.
//
// usage: make_archive_set <dir> <archives> <entries in all> <options>
//
// Every archive defines all options, in a rotated order, so merging has to
// renumber them; one name in ten appears in two archives.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/fd.h"
#include "tic/format/header.h"
#include "tic/format/toc.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s <dir> <archives> <entries> <options>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const int archives = atoi(argv[2]);
  const long entries = atol(argv[3]);
  const int options = atoi(argv[4]);
  unsigned long long state = 88172645463325252ULL;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };

  for (int a = 0; a < archives; ++a) {
    TicToc toc;
    for (int o = 0; o < options; ++o) toc.options.option_mask("option" + std::to_string((o + a * 7) % options));
    const long first = a * entries / archives;
    const long last = (a + 1) * entries / archives;
    for (long i = first; i < last; ++i) {
      // One name in ten is shared with the next archive.
      const long id = (i % 10 == 0 && a > 0) ? i - entries / archives : i;
      const std::string option = "option" + std::to_string(next() % options);
      const std::string name = "component" + std::to_string(id % 97) + "/dir" + std::to_string(id % 13) + "/file" +
                               std::to_string(id) + (id % 3 ? ".so" : ".dat");
      TicTocEntry entry;
      entry.mask = toc.options.option_mask(option);
      entry.data_offset = 104 + static_cast<uint64_t>(i) * 64;
      entry.file_size = next() % 100000;
      entry.stored_length = 64;
      toc.file_map[name] = entry;
    }
    const std::string path = dir + "/set" + std::to_string(a) + ".tic";
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
    TicHeader header;
    if (!fd.valid() || !seek_exact(fd.get(), TicHeader::kSize) || !toc.write(fd.get(), header, true) ||
        pwrite_full(fd.get(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
      fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
