#include "install/stream_feed.h"

StreamFeed::StreamFeed(Tic& set, const std::string& options, size_t capacity)
    : ring_(capacity < 1 ? 1 : capacity), holds_(ring_.size(), kFree) {
  thread_ = std::thread([this, &set, options] { walk(set, options); });
}

StreamFeed::~StreamFeed() {
  stop();
  thread_.join();
}

void StreamFeed::stop() {
  const std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  filled_.notify_all();
  emptied_.notify_all();
}

// Once stopped, the rest of the walk passes over every reference.
void StreamFeed::walk(Tic& set, const std::string& options) {
  bool going = true;
  (void)set.for_each_selected_stream(options, [&](const a_stream_ref& ref) {
    if (going) going = put(ref);
  });
  const std::lock_guard<std::mutex> lock(mutex_);
  walked_ = true;
  filled_.notify_all();
}

bool StreamFeed::put(const a_stream_ref& ref) {
  const size_t slot = ref.rank % ring_.size();
  std::unique_lock<std::mutex> lock(mutex_);
  walk_waiting_ = true;
  emptied_.wait(lock, [&] { return stopped_ || holds_[slot] == kFree; });
  walk_waiting_ = false;
  if (stopped_) return false;
  ring_[slot] = ref;
  holds_[slot] = ref.rank;
  ++held_;
  if (takers_waiting_ > 0) filled_.notify_all();
  return true;
}

// The walk, once the ring is full, is woken when half of it is free again:
// a wake-up for many references rather than one each.
bool StreamFeed::take(size_t rank, a_stream_ref& ref) {
  const size_t slot = rank % ring_.size();
  std::unique_lock<std::mutex> lock(mutex_);
  ++takers_waiting_;
  filled_.wait(lock, [&] { return stopped_ || walked_ || holds_[slot] == rank; });
  --takers_waiting_;
  if (stopped_ || holds_[slot] != rank) return false;
  ref = ring_[slot];
  holds_[slot] = kFree;
  --held_;
  if (walk_waiting_ && held_ <= ring_.size() / 2) emptied_.notify_one();
  return true;
}
