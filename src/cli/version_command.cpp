#include <cstdio>

#include "cli/commands.h"
#include "stamp/dbversion.h"

// version <parameter> <file>: prints the value of one stamp entry of any
// file of the product. Every failure prints nothing; only missing arguments
// show the usage.
int CommandVersion::run() {
  if (args.size() < 2) {
    usage();
    return -1;
  }
  dbversion_info info;
  if (__Get_dbversion_info(args[1].c_str(), &info, 1) != kInfoFound) return -1;
  const char* value = __Find_arg(&info, args[0].c_str());
  if (value == nullptr) return -1;
  std::printf("%s\n", value);
  return 0;
}
