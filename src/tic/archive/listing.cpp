#include <stdio.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>

#include "tic/archive/archive_steps.h"
#include "tic/archive/tic.h"

int Tic::list(TicToc& out, const std::string& options, bool all) {
  // Both tables are in name order: each entry goes in beside the last.
  auto hint = out.file_map.begin();
  const int read = for_each_selected(options, all, [&](const std::string& name, const TicTocEntry& entry) {
    auto taken = out.file_map.try_emplace(hint, name);
    if (taken->second.data_offset == 0) taken->second = entry;
    hint = std::next(taken);
  });
  if (read == -1) publish_step(kStepListInto);
  return ERROR != 0 ? 1 : 0;
}

unsigned long long Tic::bytes_required(const std::string& options) {
  unsigned long long total = 0;
  if (for_each_selected(options, false, [&](const std::string&, const TicTocEntry& entry) {
        total += entry.file_size;
      }) == -1) {
    publish_step(kStepBytesRequired);
    return 0;
  }
  return total;
}

int Tic::list() {
  if (read_toc(false) == -1) return publish_step(kStepListNames);
  for (const auto& [name, entry] : toc_.file_map) {
    if (entry.data_offset == 0) continue;
    printf("%s\n", name.c_str());
    fflush(stdout);
  }
  return 0;
}

namespace {

// A single archive holds every stream it has.
class an_archive_locator : public a_stream_locator {
 public:
  explicit an_archive_locator(int descriptor) : descriptor_(descriptor) {}
  int descriptor_of(std::string_view) override { return descriptor_; }

 private:
  int descriptor_;
};

}  // namespace

std::unique_ptr<a_stream_locator> Tic::stream_locator() const {
  return std::make_unique<an_archive_locator>(descriptor_.get());
}

int Tic::for_each_selected_stream(const std::string& options, const std::function<void(const a_stream_ref&)>& visit) {
  const std::unique_ptr<a_stream_locator> locator = stream_locator();
  uint32_t rank = 0;
  return for_each_selected(options, false, [&](const std::string& name, const TicTocEntry& entry) {
    visit(a_stream_ref{&name, &entry, locator->descriptor_of(name), rank++});
  });
}

int Tic::selected_streams(const std::string& options, std::vector<a_stream_ref>& out, const a_stream_filter& keep) {
  out.clear();
  if (for_each_selected_stream(options, [&](const a_stream_ref& ref) {
        if (!keep || keep(ref)) out.push_back(ref);
      }) == -1)
    return -1;
  // In the order the streams lie, so that the reads of one archive only move
  // forward; the first streams of the members of a set all lie at 104, and
  // equal offsets go by name. Sorted in place: the entries are not looked
  // up, and the names are compared only on equal offsets.
  std::sort(out.begin(), out.end(), [](const a_stream_ref& a, const a_stream_ref& b) {
    if (a.entry->data_offset != b.entry->data_offset) return a.entry->data_offset < b.entry->data_offset;
    return a.rank < b.rank;
  });
  return 0;
}
