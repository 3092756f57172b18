// The files an extraction writes, handed to its jobs in the order their
// streams lie (StreamOrder) as the jobs take them.
//
// The files are made as the jobs take them (JobFeed, platform/ordered_jobs.h):
// a ring of twice the look-ahead window holds the files around those taken.
// What file i must wait for (the latest earlier file whose path is a
// directory on its path) is found among the files of the window before it:
// every file before those is in place already. So the feed holds a few
// files, whatever the number of files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ordered_jobs.h"
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
  // taken as the job pool takes jobs.
  a_fed_file take(size_t position) { return feed_.take(position); }

 private:
  // Reads file |position| into |file|, in place of the file before.
  void make(size_t position, a_fed_file& file);

  StreamOrder& order_;
  a_placement beside_;
  // The paths of the files in the ring, to their positions.
  std::unordered_map<std::string_view, size_t> positions_;
  JobFeed<a_fed_file> feed_;
};
