#include "tic/archive/stream_order.h"

#include <map>
#include <utility>

namespace {

constexpr int kAnyArchive = -2;

}  // namespace

// One archive's kept streams in name order, walked down the set's table:
// each name's stream is the archive's when the set's locator says so.
struct StreamOrder::a_walk {
  using an_entry = std::map<std::string, TicTocEntry>::const_iterator;

  an_entry at;
  an_entry end;
  unsigned long long mask = 0;
  uint32_t rank = 0;  // of the next selected file
  std::unique_ptr<a_stream_locator> locator;
  int descriptor = -1;  // the archive's; kAnyArchive for a walk by name
  bool has = false;
  a_stream_ref current;

  // Moves to the archive's next kept stream; |has| false after the last.
  void advance(const Tic::a_stream_filter& keep) {
    has = false;
    for (; at != end; ++at) {
      const TicTocEntry& entry = at->second;
      if (!selects(entry, mask, false)) continue;
      const a_stream_ref ref{&at->first, &entry, locator->descriptor_of(at->first), rank++};
      if ((descriptor != kAnyArchive && ref.descriptor != descriptor) || (keep && !keep(ref))) continue;
      current = ref;
      has = true;
      ++at;
      return;
    }
  }
};

StreamOrder::StreamOrder(Tic& set, const std::string& options, Tic::a_stream_filter keep, an_order order)
    : set_(set), options_(options), keep_(std::move(keep)), order_(order) {}

StreamOrder::~StreamOrder() = default;

int StreamOrder::survey(bool& in_name_order) {
  in_name_order = true;
  std::map<int, uint64_t> last;  // per archive, the offset of its last stream
  return set_.for_each_selected_stream(options_, [&](const a_stream_ref& ref) {
    if (keep_ && !keep_(ref)) return;
    ++count_;
    bytes_ += ref.entry->file_size;
    auto [at, first] = last.emplace(ref.descriptor, ref.entry->data_offset);
    if (!first && at->second > ref.entry->data_offset) in_name_order = false;
    at->second = ref.entry->data_offset;
  });
}

int StreamOrder::start() {
  bool in_name_order = true;
  if (survey(in_name_order) == -1) return -1;
  if (order_ == kAsTheyLie && !in_name_order) {
    held_ = true;
    return set_.selected_streams(options_, refs_, keep_);
  }
  const TicToc& table = set_.get_toc();
  const unsigned long long mask = table.options.option_mask(options_);
  // One walk for all by name; one per archive, merged, as the streams lie.
  std::vector<int> descriptors{kAnyArchive};
  if (order_ == kAsTheyLie) {
    descriptors.clear();
    for (const Tic* archive : set_.archives()) descriptors.push_back(archive->descriptor());
  }
  for (const int descriptor : descriptors) {
    auto walk = std::make_unique<a_walk>();
    walk->at = table.file_map.begin();
    walk->end = table.file_map.end();
    walk->mask = mask;
    walk->locator = set_.stream_locator();
    walk->descriptor = descriptor;
    walk->advance(keep_);
    walks_.push_back(std::move(walk));
  }
  return 0;
}

bool StreamOrder::next(a_stream_ref& ref) {
  if (held_) {
    if (taken_ == refs_.size()) return false;
    ref = refs_[taken_++];
    return true;
  }
  a_walk* first = nullptr;
  for (auto& walk : walks_) {
    if (!walk->has) continue;
    if (first == nullptr) {
      first = walk.get();
      continue;
    }
    const a_stream_ref& a = walk->current;
    const a_stream_ref& b = first->current;
    if (a.entry->data_offset < b.entry->data_offset ||
        (a.entry->data_offset == b.entry->data_offset && a.rank < b.rank))
      first = walk.get();
  }
  if (first == nullptr) return false;
  ref = first->current;
  first->advance(keep_);
  return true;
}
