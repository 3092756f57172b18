// The sample product in two releases, for tests of records and upgrades.
#pragma once

#include <string>
#include <vector>

#include "support/run.h"
#include "support/temp_dir.h"

// Builds into |directory| the sample product as a set of two archives
// (server.tic, client.tic) and its next release (server2.tic,
// client2.tic), made from a changed copy of sample/ in |directory|/next:
// share/doc/client.txt dropped, bin/tarnadm added, the README and the
// configuration changed, everything else as it was. Both are built with
// one SOURCE_DATE_EPOCH, so an unchanged file has the same entry in both.
// True when all four were built.
bool build_sample_releases(const std::string& directory);

// The archives of each release, as named from the install directory.
extern const std::vector<std::string> kFirstRelease, kNextRelease;

// Both releases in a fresh directory, with an empty install directory
// "target" and a state directory "state" beside them.
struct Release {
  TempDir dir;
  const std::string target = dir / "target";
  const std::string state = dir / "state";

  Release();

  // Runs kestrel in the release directory with the state directory, and
  // the NAME=VALUE pairs of |env|.
  RunResult kestrel(std::vector<std::string> args, const std::vector<std::string>& env = {}) const;

  // install -q -d target -o '*' of the first release.
  RunResult install_first_release() const;

  // The record of the install directory.
  std::string record_path() const;
  std::string at(const std::string& name) const { return target + "/" + name; }
};
