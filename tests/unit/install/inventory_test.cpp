// Which installation holds a path: the path asked about, its directories
// resolved and its last element not followed, and its name below an
// install directory.
#include "install/inventory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(Inventory, APathIsAskedAboutAsItStandsNotAsItsLinkLeads) {
  TempDir dir;
  const std::string real = fs::canonical(dir.path()).string();
  fs::create_directories(dir / "opt/product/bin");
  fs::create_directory_symlink(real + "/opt/product", dir / "alias");
  fs::create_symlink("tool", dir / "opt/product/bin/link");
  // Directories on the way are resolved, the last element is not.
  EXPECT_EQ(owned_path(dir / "alias/bin/link"), real + "/opt/product/bin/link");
  EXPECT_EQ(owned_path(dir / "alias"), real + "/alias");
  EXPECT_EQ(owned_path(dir / "opt//product/./bin/"), real + "/opt/product/bin");
  // A path that is gone is taken as written below what resolves.
  EXPECT_EQ(owned_path(dir / "opt/product/gone"), real + "/opt/product/gone");
  // Relative paths start from the current directory.
  const fs::path here = fs::current_path();
  fs::current_path(dir / "opt");
  EXPECT_EQ(owned_path("product/bin"), real + "/opt/product/bin");
  fs::current_path(here);
}

TEST(Inventory, ANameLiesBelowAnInstallDirectoryOnlyAtASlash) {
  EXPECT_EQ(name_below("/opt/p", "/opt/p/bin/tool"), "bin/tool");
  EXPECT_EQ(name_below("/opt/p", "/opt/pq/bin"), "");
  EXPECT_EQ(name_below("/opt/p", "/opt/p"), "");
  EXPECT_EQ(name_below("/opt/p", "/opt"), "");
  EXPECT_EQ(name_below("/", "/etc/x"), "etc/x");
}

}  // namespace
