#include <cstdio>

#include "cli/commands.h"
#include "platform/fd.h"
#include "stamp/dbversion.h"
#include "tic/archive/archive_stamp.h"

// version <parameter> <file>: prints the value of one stamp entry of any
// file of the product. Missing arguments show the usage; every other failure
// is one line on standard error. An archive's block is read where its header
// says it lies; any other file is searched.
int CommandVersion::run() {
  if (args.size() < 2) {
    usage();
    return -1;
  }
  const std::string& file = args[1];
  if (const Result<UniqueFd> probe = open_regular_file(file.c_str()); !probe) {
    complain("version", file, probe.failure().text());
    return -1;
  }
  dbversion_info info;
  if (read_file_stamp(file.c_str(), &info) != kInfoFound) {
    complain("version", file, "no version stamp");
    return -1;
  }
  const char* value = __Find_arg(&info, args[0].c_str());
  if (value == nullptr) {
    complain("version", file, "no stamp entry " + args[0]);
    return -1;
  }
  std::printf("%s\n", value);
  return 0;
}
