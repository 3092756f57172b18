// The streams an option text selects from an archive or a set, one at a
// time in the order they lie: by data offset, and equal offsets (the first
// streams of a set's members all lie at 104) by name. Extraction reads them
// so, each archive only forward.
//
// When each archive holds the selected streams in name order, as the
// builder writes them, that order is a merge of one walk in name order per
// archive, and nothing is held per file. Otherwise every reference is held
// and sorted: 24 bytes a file.
//
// Walked by name instead, the streams come in name order, one walk of the
// set's table, nothing held per file whatever the archives' layout; each
// archive is still read forward when its streams lie in name order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tic/archive/tic.h"

class StreamOrder {
 public:
  // |keep| as for Tic::selected_streams: the files it leaves out are passed
  // over, and each kept one has its rank among all the selected files. It
  // is asked more than once about a file, and must give the same answer.
  enum an_order { kAsTheyLie, kByName };
  StreamOrder(Tic& set, const std::string& options, Tic::a_stream_filter keep = nullptr, an_order order = kAsTheyLie);
  ~StreamOrder();
  StreamOrder(const StreamOrder&) = delete;
  StreamOrder& operator=(const StreamOrder&) = delete;

  // Reads the tables and counts the kept streams. -1 when the table of
  // contents cannot be read.
  int start();
  // The kept streams, and the sum of their files' sizes.
  size_t size() const { return count_; }
  unsigned long long bytes() const { return bytes_; }
  // Whether the references are held in memory (some archive's streams do
  // not lie in name order).
  bool held() const { return held_; }

  // The next stream: false after the last.
  bool next(a_stream_ref& ref);

 private:
  struct a_walk;
  // Whether every archive's kept streams lie in name order; counts them.
  int survey(bool& in_name_order);

  Tic& set_;
  std::string options_;
  Tic::a_stream_filter keep_;
  an_order order_;
  size_t count_ = 0;
  unsigned long long bytes_ = 0;
  bool held_ = false;
  std::vector<a_stream_ref> refs_;  // when held
  size_t taken_ = 0;
  std::vector<std::unique_ptr<a_walk>> walks_;  // otherwise, one per archive
};
