// The selected streams of a set, walked in name order on a thread of their
// own and handed to ordered jobs (platform/ordered_jobs.h) as they take
// them: the walk keeps at most |capacity| references ahead of the jobs, so
// nothing is held per selected file.
//
// Job i takes the stream of rank i. The jobs take ranks in order and at
// most a window ahead of the job committed last; a capacity of at least
// that window lets the walk always reach the rank a job waits for.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tic/archive/tic.h"

class StreamFeed {
 public:
  // Starts walking what |options| selects in |set|, whose tables are loaded
  // and stay as they are while the feed lives.
  StreamFeed(Tic& set, const std::string& options, size_t capacity);
  // Stops the walk and waits for its thread.
  ~StreamFeed();
  StreamFeed(const StreamFeed&) = delete;
  StreamFeed& operator=(const StreamFeed&) = delete;

  // The stream of |rank|, waited for: false once the feed is stopped, or
  // when the walk ended without reaching it (the tables hold fewer
  // selected streams than the caller counted).
  // REQUIRES: each rank is taken once at most.
  bool take(size_t rank, a_stream_ref& ref);
  // Ends the walk early: every take from now on returns false.
  void stop();

 private:
  void walk(Tic& set, const std::string& options);
  // Puts |ref| in its slot, once the slot is free; false once stopped.
  bool put(const a_stream_ref& ref);

  static constexpr size_t kFree = SIZE_MAX;

  std::mutex mutex_;
  std::condition_variable filled_;   // a reference was put, for a taker waiting
  std::condition_variable emptied_;  // slots were freed, for the walk waiting
  std::vector<a_stream_ref> ring_;
  std::vector<size_t> holds_;  // the rank in each slot, or kFree
  size_t held_ = 0;            // slots not free
  size_t takers_waiting_ = 0;
  bool walk_waiting_ = false;
  bool stopped_ = false;
  bool walked_ = false;  // the walk has ended
  std::thread thread_;
};
