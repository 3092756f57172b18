// The pass a signature is checked on: the tables a command works from must
// be the bytes the hash covered, and an archive changed on disk between
// the loading of its tables and the check installs nothing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sodium.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "crypto/archive_key.h"
#include "install/extraction.h"
#include "platform/fd.h"
#include "sign/archive_digest.h"
#include "sign/signature_check.h"
#include "support/minisign.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "tic/archive/multi_tic.h"
#include "tic/archive/archive_steps.h"

namespace {

namespace fs = std::filesystem;

// Builds |archive| in |dir| with tictool from |files| (name -> contents),
// all of option "o".
void build(const TempDir& dir, const std::string& archive, const std::map<std::string, std::string>& files) {
  std::string list;
  std::vector<std::string> args{"build", "-C", dir / ("src-" + archive), dir / (archive + ".list"), dir / archive};
  for (const auto& [name, bytes] : files) {
    write_file(dir / ("src-" + archive + "/" + name), bytes);
    list += name + ";o;;0;0;0\n";
    args.push_back(name);
  }
  write_file(dir / (archive + ".list"), list);
  ASSERT_EQ(run_tictool(args).status, 0);
}

// Writes |bytes| over the file at |path| in place: the same file, so a
// descriptor open on it reads the new bytes.
void overwrite(const std::string& path, const std::string& bytes) {
  std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes.size())), 0);
}

std::string blake2b(const std::string& bytes) {
  unsigned char hash[kFileHashSize];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr,
                     0);
  return std::string(reinterpret_cast<const char*>(hash), sizeof hash);
}

std::string hash_of(const an_archive_digest& d) { return std::string(reinterpret_cast<const char*>(d.hash), 64); }

an_archive_digest digest(const Tic& tic) {
  const Result<an_archive_digest> d = digest_archive(tic);
  EXPECT_TRUE(d.ok()) << d.failure().line();
  return d ? d.value() : an_archive_digest();
}

TEST(ArchiveDigest, TheTablesInUseAreTheBytesTheHashCovered) {
  TempDir dir;
  build(dir, "a.tic", {{"bin/tool", "#!/bin/sh\n"}, {"etc/tool.conf", "port=1\n"}});
  build(dir, "b.tic", {{"bin/tool", "#!/bin/sh\nexec evil\n"}, {"etc/tool.conf", "port=2\n"}});
  const std::string a = read_file(dir / "a.tic");
  const ArchiveKey key;
  Tic tic(nullptr, false, key.bytes(), key.length());
  ASSERT_EQ(tic.open((dir / "a.tic").c_str()), 0);
  tic.keep_tables();

  an_archive_digest unchanged = digest(tic);
  EXPECT_TRUE(unchanged.same_tables);
  EXPECT_EQ(hash_of(unchanged), blake2b(a));

  // A stream changed after loading: the tables in use are still the ones
  // hashed (the stream's MAC in them catches it); the hash is not the same.
  std::string stream_changed = a;
  stream_changed[TicHeader::kSize + 20] ^= 1;
  overwrite(dir / "a.tic", stream_changed);
  an_archive_digest after_stream = digest(tic);
  EXPECT_TRUE(after_stream.same_tables);
  EXPECT_EQ(hash_of(after_stream), blake2b(stream_changed));

  // The header alone (a version byte no MAC covers), and the whole archive
  // replaced by another one: the hash covers the new bytes, the tables in
  // use are the old ones.
  std::string header_changed = a;
  header_changed[101] ^= 1;
  overwrite(dir / "a.tic", header_changed);
  EXPECT_FALSE(digest(tic).same_tables);
  overwrite(dir / "a.tic", read_file(dir / "b.tic"));
  an_archive_digest replaced = digest(tic);
  EXPECT_FALSE(replaced.same_tables);
  EXPECT_EQ(hash_of(replaced), blake2b(read_file(dir / "b.tic")));
  // Cut short in the tables: they cannot be the same.
  overwrite(dir / "a.tic", a.substr(0, a.size() - 1));
  EXPECT_FALSE(digest(tic).same_tables);
  overwrite(dir / "a.tic", a);
  EXPECT_TRUE(digest(tic).same_tables);
}

TEST(ArchiveDigest, ASetKeepsItsMembersTablesAndMergesThoseAgain) {
  TempDir dir;
  build(dir, "a.tic", {{"one", "1"}});
  build(dir, "b.tic", {{"two", "2"}});
  MultiTic set({dir / "a.tic", dir / "b.tic"}, false, nullptr, 0);
  ASSERT_EQ(set.read_toc(false), 0);
  ASSERT_EQ(set.archives().size(), 2u);
  set.keep_tables();
  // Nothing is read again, not even when forced: the other archive's bytes
  // never reach the tables in use.
  overwrite(dir / "a.tic", read_file(dir / "b.tic"));
  EXPECT_EQ(set.read_toc(true), 0);
  EXPECT_EQ(set.get_toc().file_map.count("one"), 1u);
  EXPECT_EQ(set.get_toc().file_map.count("two"), 1u);
  EXPECT_FALSE(digest(*set.archives()[0]).same_tables);
  EXPECT_TRUE(digest(*set.archives()[1]).same_tables);
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedVariable() { unsetenv(name_); }

 private:
  const char* name_;
};

TEST(SignatureCheck, AnArchiveChangedOnDiskBetweenLoadAndCheckInstallsNothingNew) {
  TempDir dir;
  const MinisignKeyPair pair = make_key_pair(dir.path(), "release");
  build(dir, "a.tic", {{"bin/tool", "#!/bin/sh\n"}, {"etc/tool.conf", "port=1\n"}});
  build(dir, "b.tic", {{"bin/tool", "#!/bin/sh\nexec evil\n"}, {"etc/tool.conf", "port=2\n"}, {"new", "x"}});
  minisign_sign(pair, dir / "a.tic");
  minisign_sign(pair, dir / "b.tic");
  const ScopedVariable trusted(kTrustedKeysVariable, pair.public_key);
  fs::create_directory(dir / "target");
  write_file(dir / "target/etc/tool.conf", "port=0\n");
  const ArchiveKey key;

  auto install = [&](const std::function<void()>& between_load_and_check, std::string* cause) {
    MultiTic set({dir / "a.tic"}, false, key.bytes(), key.length());
    between_load_and_check();
    SignatureCheck check;
    if (set.validate() != 0) {
      *cause = "refused before extraction: archive does not match its MAC";
      return -1;
    }
    if (const Outcome started = check.start(set); !started) {
      *cause = "refused before extraction: " + started.failure().text();
      return -1;
    }
    UniqueFd root(::open((dir / "target").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    TicExtraction extraction(set, root.get());
    extraction.set_commit_gate([&check] { return check.finish().ok(); });
    ERROR = 0;
    const int extracted = extraction.extract("o", "");
    *cause = check.finish().failure().cause;
    return extracted;
  };

  // Another signed archive, written in place together with its signature
  // after a.tic's tables were loaded: both signatures are good, but the
  // tables in use are not the bytes hashed.
  std::string cause;
  EXPECT_EQ(install(
                [&] {
                  overwrite(dir / "a.tic", read_file(dir / "b.tic"));
                  write_file(dir / "a.tic.minisig", read_file(dir / "b.tic.minisig"));
                },
                &cause),
            -1);
  EXPECT_EQ(cause, kArchiveChanged);
  EXPECT_EQ(read_file(dir / "target/etc/tool.conf"), "port=0\n");
  EXPECT_FALSE(file_exists(dir / "target/bin/tool"));
  EXPECT_FALSE(file_exists(dir / "target/new"));
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir / "target"), {}), 2) << "etc and its file, no more";

  // Unchanged, the same steps install the archive now on disk.
  EXPECT_EQ(install([] {}, &cause), 0);
  EXPECT_EQ(cause, "");
  EXPECT_EQ(read_file(dir / "target/bin/tool"), "#!/bin/sh\nexec evil\n");
}

}  // namespace
