// The files an extraction writes, handed to its jobs in the order their
// streams lie (StreamOrder) as the jobs take them.
//
// The jobs take file i once each, several workers at once, so in nearly
// rising order, and only while i lies less than the look-ahead window past
// the first file not yet put in place. A ring of twice the window holds the
// files around those taken. What file i must wait for (the latest earlier
// file whose path is a directory on its path) is found among the files of
// the window before it: every file before those is in place already.
// So the feed holds a few files, whatever the number of files.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tic/archive/stream_order.h"

// One file as a job takes it.
struct a_fed_file {
  a_stream_ref ref;
  std::string path;  // the name normalised, with kBesideSuffix when beside
  bool beside = false;
  long long depends_on = -1;  // the position of the file it waits for, or -1
};

class ExtractionFeed {
 public:
  // Whether a file goes beside its path.
  using a_placement = std::function<bool(const a_stream_ref& ref)>;

  // |order| started; |window| as given to the job pool.
  ExtractionFeed(StreamOrder& order, a_placement beside, size_t window);

  // File |position| of the extraction. Any thread; REQUIRES: positions
  // taken as the job pool takes them (see above).
  a_fed_file take(size_t position);

 private:
  // Reads the next file into the ring.
  void produce();

  std::mutex lock_;
  StreamOrder& order_;
  a_placement beside_;
  std::vector<a_fed_file> ring_;
  size_t produced_ = 0;
  // The paths of the files in the ring, to their positions.
  std::unordered_map<std::string_view, size_t> positions_;
};
