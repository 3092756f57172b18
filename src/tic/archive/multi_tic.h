// Several TIC archives read as one.
//
// The members are kept in byte-wise order of their paths as given (paths are
// not resolved), and every operation visits them in that order: the first
// member's options get the low bit numbers, and a file's stream comes from
// the first member that has one.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tic/archive/tic.h"

class MultiTic : public Tic {
 public:
  // Opens one member per distinct path; a member that cannot be opened stays
  // in the set, not open. The tables are merged by the first read_toc.
  MultiTic(const std::vector<std::string>& paths, bool verbose, const unsigned char* key, int key_length);
  ~MultiTic() override;

  // 0 when every member is valid, else the first member's nonzero result.
  int validate() const override;
  // The integrity of the first member that fails the check.
  Outcome integrity() const override;
  // Loads and merges the members' tables in path order; stops at the first
  // member that fails and returns its result, keeping what was merged. The
  // set's read_failure() is then that member's.
  int read_toc(bool force) override;
  // The descriptor of the first member holding a stream for |name|,
  // positioned at it; -1 when none does.
  int seek_file(const std::string& name) override;
  // Keeps every member's tables and merges them again from what is kept.
  void keep_tables() override;
  // The members in path order.
  std::vector<const Tic*> archives() const override;

  // The members in path order, walked beside the names asked for: the
  // first member that has a stream for a name supplies it.
  std::unique_ptr<a_stream_locator> stream_locator() const override;

 private:
  // Loads and merges the members' tables in path order into toc_.
  int merge_members(bool force);

  // Path -> member; each member's path points at its key here.
  std::map<std::string, std::unique_ptr<Tic>> members_;
  int kept_result_ = 0;  // read_toc's result once the tables are kept
};
