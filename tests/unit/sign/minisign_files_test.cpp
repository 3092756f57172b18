// minisign's key and signature files as minisign writes them, damaged ones,
// and the trust configuration made of key files and directories.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "sign/signature_file.h"
#include "sign/trusted_keys.h"
#include "support/minisign.h"
#include "support/temp_dir.h"

namespace {

a_public_key decoded_key(const std::string& path) {
  const Result<a_public_key> key = decode_public_key(read_file(path));
  EXPECT_TRUE(key.ok()) << key.failure().text();
  return key ? key.value() : a_public_key();
}

TEST(MinisignFiles, KeysAndSignaturesMadeByMinisignDecodeWithTheIdItShows) {
  TempDir dir;
  const MinisignKeyPair pair = make_key_pair(dir.path(), "release");
  write_file(dir / "a.tic", "archive bytes");
  write_file(dir / "b.tic", "archive bytes");
  minisign_sign(pair, dir / "a.tic", {"-t", "release 17.0.11"});
  minisign_sign(pair, dir / "b.tic", {"-l"});

  const a_public_key key = decoded_key(pair.public_key);
  EXPECT_EQ(key_id_text(key.id), pair.id);
  const Result<a_signature> a = decode_signature(read_file(dir / "a.tic.minisig"));
  const Result<a_signature> b = decode_signature(read_file(dir / "b.tic.minisig"));
  ASSERT_TRUE(a.ok()) << a.failure().text();
  ASSERT_TRUE(b.ok()) << b.failure().text();
  const a_signature& prehashed = a.value();
  const a_signature& legacy = b.value();
  EXPECT_TRUE(prehashed.prehashed);
  EXPECT_FALSE(legacy.prehashed) << "minisign -l writes the legacy form";
  EXPECT_EQ(key_id_text(prehashed.key_id), pair.id);
  EXPECT_EQ(prehashed.trusted_comment, "release 17.0.11");

  ASSERT_TRUE(signing_library_ready());
  EXPECT_TRUE(comment_verifies(prehashed, key));
  a_signature other_comment = prehashed;
  other_comment.trusted_comment = "release 17.0.12";
  EXPECT_FALSE(comment_verifies(other_comment, key));
  const unsigned char any_hash[kFileHashSize] = {};
  EXPECT_FALSE(file_verifies(legacy, key, any_hash)) << "a legacy signature never verifies a hash";
}

TEST(MinisignFiles, DamagedFilesAreRefusedWithAReason) {
  TempDir dir;
  const MinisignKeyPair pair = make_key_pair(dir.path(), "release");
  write_file(dir / "a.tic", "archive bytes");
  minisign_sign(pair, dir / "a.tic");
  const std::string good = read_file(dir / "a.tic.minisig");
  const std::string key_text = read_file(pair.public_key);

  // Line ends may be CRLF, and blank lines may follow.
  std::string crlf;
  for (char c : good) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_TRUE(decode_signature(crlf + "\r\n\n").ok());

  const size_t line2 = good.find('\n') + 1, line3 = good.find('\n', line2) + 1, line4 = good.find('\n', line3) + 1;
  std::string bad_base64 = good;
  bad_base64[line2 + 5] = '!';
  std::string short_signature = good;
  short_signature.erase(line3 - 5, 4);
  std::string unknown_algorithm = good;
  unknown_algorithm.replace(line2, 2, "RX");  // base64 of "E?" instead of "ED"
  std::string no_trusted_prefix = good;
  no_trusted_prefix.replace(line3, 8, "comment:");
  for (const auto& [text, reason] : std::vector<std::pair<std::string, std::string>>{
           {"", "not a minisign signature"},
           {good.substr(0, line3), "not a minisign signature"},  // cut after the signature line
           {good.substr(0, line4), "not a minisign signature"},  // no global signature
           {good + "one line too many\n", "not a minisign signature"},
           {bad_base64, "not a minisign signature"},
           {short_signature, "not a minisign signature"},
           {no_trusted_prefix, "not a minisign signature"},
           {unknown_algorithm, "unknown signature algorithm"},
           {key_text, "not a minisign signature"},
       }) {
    const Result<a_signature> signature = decode_signature(text);
    EXPECT_FALSE(signature.ok()) << text;
    EXPECT_EQ(signature.failure().text(), reason) << text;
  }

  EXPECT_EQ(decode_public_key(good).failure().text(), "not a minisign public key");
  EXPECT_FALSE(decode_public_key(key_text.substr(key_text.find('\n') + 1)).ok()) << "no comment line";
  std::string not_ed = key_text;
  not_ed.replace(key_text.find('\n') + 1, 2, "RX");
  const Result<a_public_key> not_ed_key = decode_public_key(not_ed);
  EXPECT_FALSE(not_ed_key.ok());
  EXPECT_EQ(not_ed_key.failure().text(), "not an Ed25519 minisign public key");
}

struct Loaded {
  bool ok;
  std::string subject, cause;
  TrustedKeys keys;
};

Loaded load(const char* setting, const std::string& default_directory) {
  Loaded l;
  const Outcome loaded = l.keys.load(setting, default_directory);
  l.ok = loaded.ok();
  l.subject = loaded.failure().subject;
  l.cause = loaded.failure().text();
  return l;
}

TEST(TrustedKeys, EntriesAreKeyFilesAndDirectoriesOfThemAndEachMustGiveKeys) {
  TempDir dir;
  std::filesystem::create_directories(dir / "keys");
  const MinisignKeyPair first = make_key_pair(dir / "keys", "first");
  const MinisignKeyPair second = make_key_pair(dir / "keys", "second");
  const MinisignKeyPair loose = make_key_pair(dir.path(), "loose");
  write_file(dir / "keys/README", "not a key, not named *.pub");
  write_file(dir / "keys/.old.pub", "passed over: hidden");
  auto id = [](const MinisignKeyPair& p) { return decoded_key(p.public_key); };

  Loaded both = load((dir / "keys").c_str(), "/nonexistent");
  ASSERT_TRUE(both.ok) << both.subject << ": " << both.cause;
  EXPECT_NE(both.keys.find(id(first).id), nullptr);
  ASSERT_NE(both.keys.find(id(second).id), nullptr);
  EXPECT_EQ(both.keys.find(id(second).id)->file, second.public_key);
  EXPECT_EQ(both.keys.find(id(loose).id), nullptr);

  const std::string list = ":" + dir / "keys" + "::" + loose.public_key + ":";
  Loaded listed = load(list.c_str(), "/nonexistent");
  ASSERT_TRUE(listed.ok) << listed.cause;
  EXPECT_NE(listed.keys.find(id(loose).id), nullptr);

  // Unset: the default directory when it exists; set but empty: no key.
  EXPECT_TRUE(load(nullptr, dir / "absent").keys.empty());
  EXPECT_TRUE(load(nullptr, dir / "absent").ok);
  EXPECT_FALSE(load(nullptr, dir / "keys").keys.empty());
  EXPECT_TRUE(load("", dir / "keys").keys.empty());

  // Fail closed, naming the entry.
  std::filesystem::create_directories(dir / "empty");
  write_file(dir / "garbage.pub", "untrusted comment: x\nnot base64\n");
  write_file(dir / "same-id/a.pub", read_file(first.public_key));
  std::string other_key = read_file(second.public_key);  // second's key under first's id
  const std::string first_text = read_file(first.public_key);
  // The id is decoded bytes 2 to 9, held by the first 16 base64 characters
  // (with 2 bytes of the key, so the key stays a different one).
  other_key.replace(other_key.find('\n') + 1, 16, first_text.substr(first_text.find('\n') + 1, 16));
  write_file(dir / "same-id/b.pub", other_key);
  for (const auto& [setting, subject, cause] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {dir / "absent.pub", dir / "absent.pub", "No such file or directory"},
           {"keys/first.pub", "keys/first.pub", "not an absolute path"},
           {dir / "empty", dir / "empty", "no *.pub key in the directory"},
           {first.public_key + ":" + dir / "garbage.pub", dir / "garbage.pub", "not a minisign public key"},
           {dir / "same-id", dir / "same-id/b.pub", "another trusted key has the id " + first.id},
       }) {
    Loaded l = load(setting.c_str(), "/nonexistent");
    EXPECT_FALSE(l.ok) << setting;
    EXPECT_EQ(l.subject, subject);
    EXPECT_EQ(l.cause, cause);
  }
  if (geteuid() != 0) {
    ::chmod((dir / "keys/first.pub").c_str(), 0);
    Loaded unreadable = load((dir / "keys").c_str(), "/nonexistent");
    EXPECT_FALSE(unreadable.ok);
    EXPECT_EQ(unreadable.cause, "Permission denied");
  }
}

}  // namespace
