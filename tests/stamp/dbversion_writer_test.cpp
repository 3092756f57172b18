// The archive builder's stamp block, read back with the reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "platform/system_info.h"
#include "stamp/dbversion.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

namespace {

// A Tic whose descriptor is a fresh file open for writing, as the builder
// has it, with 104 bytes already written for the header.
class WritingTic : public Tic {
 public:
  explicit WritingTic(const std::string& path) : Tic(nullptr, false, nullptr, 0) {
    descriptor_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    EXPECT_EQ(::write(descriptor_.get(), std::string(104, '\0').data(), 104), 104);
  }
};

TEST(StampWriter, EveryKeyInOrderWithTheHeadersVersion) {
  setenv("PLATFORM", "linux64", 1);
  TempDir dir;
  const std::string path = dir / "archive.tic";
  TicHeader header;
  header.major = 1;
  header.minor = 2;
  header.patch = 3;
  header.build = 4716;
  {
    WritingTic tic(path);
    tic.set_product_name("nimbrel");
    ASSERT_EQ(tic.write_dbversion(header), 0);
  }
  auto info = std::make_unique<dbversion_info>();
  ASSERT_EQ(__Get_dbversion_info(path.c_str(), info.get(), 0), kInfoFound);

  const std::vector<std::string> keys = {"MODULE", "VERSION_MAJOR", "VERSION_MINOR", "VERSION_PATCH", "BUILD_NUMBER",
                                         "PLATFORM", "DATE", "TIME", "HOST", "THREADS", "POINTERSIZE", "MACHINE",
                                         "PRODUCTION", "UNAME", "IDENT"};
  std::vector<std::string> names, values;
  for (unsigned i = 0; i < info->num_args; ++i) {
    names.push_back(info->args[i].name);
    values.push_back(info->args[i].value);
  }
  ASSERT_EQ(names, keys);

  SystemInfoText host, os, machine;
  GetMachineHostName(host);
  GetOSVersionString(os);
  GetNativeProcessorArchitecture(machine);
  const std::vector<std::string> fixed = {"nimbrel", "1", "2", "3", "4716", "linux64"};
  EXPECT_EQ(std::vector<std::string>(values.begin(), values.begin() + 6), fixed);
  EXPECT_TRUE(std::regex_match(values[6], std::regex(R"(\d{4}/\d\d/\d\d)"))) << values[6];
  EXPECT_TRUE(std::regex_match(values[7], std::regex(R"(\d\d:\d\d:\d\d[-+]\d{4})"))) << values[7];
  const std::vector<std::string> middle = {host, "nothr", "0", machine, "production"};
  EXPECT_EQ(std::vector<std::string>(values.begin() + 8, values.begin() + 13), middle);
#if defined(__x86_64__)
  EXPECT_EQ(values[11], "X86_64");
  EXPECT_EQ(values[13], std::string(os) + " X86_64");
#endif
  const std::string ident_head = "nimbrel/1.2.3/P/" + std::string(machine) + "/" + os + "/4716/OPT/";
  EXPECT_EQ(values[14].rfind(ident_head, 0), 0u) << values[14];

  // Placed where the header says, closed by the empty entry, no extensions.
  const std::string bytes = read_file(path);
  EXPECT_EQ(header.version_offset, 104u);
  EXPECT_EQ(header.version_length, bytes.size() - 104);
  EXPECT_EQ(info->block_length, header.version_length - 16 - 1);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string(2, '\0'));
}

TEST(StampWriter, UnsetPlatformIsEmptyAndFailuresShowInTheHeader) {
  unsetenv("PLATFORM");
  TempDir dir;
  TicHeader header;
  {
    WritingTic tic(dir / "archive.tic");
    ASSERT_EQ(tic.write_dbversion(header), 0);
  }
  auto info = std::make_unique<dbversion_info>();
  ASSERT_EQ(__Get_dbversion_info((dir / "archive.tic").c_str(), info.get(), 0), kInfoFound);
  EXPECT_STREQ(__Find_arg(info.get(), "PLATFORM"), "");
  EXPECT_STREQ(__Find_arg(info.get(), "MODULE"), "tarnvale");

  Tic closed(nullptr, false, nullptr, 0);
  EXPECT_EQ(closed.write_dbversion(header), -1);
  EXPECT_EQ(header.version_offset, ~0ULL);
  EXPECT_EQ(header.version_length, ~0ULL);
}

}  // namespace
