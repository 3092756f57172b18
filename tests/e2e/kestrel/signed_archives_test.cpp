// Signed archives through the real binaries, with keys and signatures made
// by the real minisign: what install, validate, verify and remove take and
// refuse once trusted keys are configured, what list, space and options
// leave alone, and that without keys nothing changes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/fd.h"
#include "platform/json.h"
#include "support/archive_writer.h"
#include "support/minisign.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "tic/format/header.h"

namespace {

namespace fs = std::filesystem;


// The sample product built into server.tic and client.tic, both signed by
// the key release, whose public key is alone in keys/; the key other is
// trusted by no one.
struct SignedSet {
  TempDir dir;
  MinisignKeyPair release, other;

  SignedSet() {
    EXPECT_TRUE(build_sample_set(dir.path()));
    fs::create_directories(dir / "keys");
    fs::create_directories(dir / "untrusted");
    release = make_key_pair(dir / "keys", "release");
    other = make_key_pair(dir / "untrusted", "other");
    minisign_sign(release, dir / "server.tic");
    minisign_sign(release, dir / "client.tic");
  }

  RunOptions trusting(const std::string& keys) const {
    return {dir.path(), {"KESTREL_TRUSTED_KEYS=" + keys}, {}};
  }
  RunOptions trusting_release() const { return trusting(dir / "keys"); }
  RunOptions without_keys() const { return {dir.path(), {}, {"KESTREL_TRUSTED_KEYS"}}; }

  // install into a fresh |target| with a log, as a script would run it.
  RunResult install(const std::string& target, const RunOptions& options) const {
    fs::remove_all(dir / target);
    fs::create_directories(dir / target);
    return run_kestrel({"install", "-l", "install.log", "-d", target, "-o", "*", "../client.tic", "../server.tic"},
                       options);
  }

  // The objects below |target|: type, mode and bytes or link target.
  std::map<std::string, std::string> tree(const std::string& target) const {
    return snapshot(dir / target, a_snapshot::kContent);
  }
};

void flip_byte(const std::string& path, long long offset) {
  std::string bytes = read_file(path);
  const size_t at = offset >= 0 ? static_cast<size_t>(offset) : bytes.size() - static_cast<size_t>(-offset);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
  write_file(path, bytes);
}

uint64_t toc_offset(const std::string& path) {
  TicHeader header;
  const std::string bytes = read_file(path);
  std::memcpy(&header, bytes.data(), sizeof header);
  return header.toc_offset;
}

TEST(SignedArchives, AGoodSignatureChangesNothingThatAScriptSees) {
  SignedSet s;
  const RunResult with_keys = s.install("signed", s.trusting_release());
  ASSERT_EQ(with_keys.status, 0) << with_keys.err;
  const RunResult without = s.install("plain", s.without_keys());
  EXPECT_EQ(with_keys.out, without.out);
  EXPECT_EQ(with_keys.err, "");
  EXPECT_EQ(s.tree("signed"), s.tree("plain"));
  EXPECT_EQ(read_file(s.dir / "signed/install.log").substr(read_file(s.dir / "signed/install.log").size() - 3),
            "ok\n");

  for (const std::string command : {"validate", "verify", "remove"}) {
    const std::vector<std::string> args =
        command == "validate" ? std::vector<std::string>{command, "client.tic", "server.tic"}
                              : std::vector<std::string>{command, "-d", "signed", "-o", "*", "../client.tic",
                                                         "../server.tic"};
    const RunResult r = run_kestrel(args, s.trusting_release());
    EXPECT_EQ(r.status, 0) << command << ": " << r.err;
    EXPECT_EQ(r.out + r.err, "") << command;
  }
  EXPECT_EQ(s.tree("signed").count("bin/tarnserve"), 0u) << "remove took the installed files";
}

TEST(SignedArchives, AKeyDirectoryHoldingSeveralKeysTrustsEach) {
  SignedSet s;
  const MinisignKeyPair second = make_key_pair(s.dir / "keys", "second");
  write_file(s.dir / "keys/README", "public keys of the release team\n");
  minisign_sign(second, s.dir / "client.tic");
  const RunResult r = s.install("target", s.trusting_release());
  EXPECT_EQ(r.status, 0) << r.err;
  // The same keys named one by one, among empty elements.
  const RunResult listed = run_kestrel({"validate", "server.tic", "client.tic"},
                                       s.trusting(":" + second.public_key + "::" + s.release.public_key));
  EXPECT_EQ(listed.status, 0) << listed.err;
}

// One way to spoil server.tic or its signature, and what kestrel says.
struct Spoiler {
  const char* what;
  std::function<void(const SignedSet&)> spoil;
  // Why, for the archive named as given to the command.
  std::function<std::string(const SignedSet&, const std::string& archive)> cause;
};

std::string fixed(const char* text, const SignedSet&, const std::string&) { return text; }

TEST(SignedArchives, ArchivesWithoutAGoodSignatureAreRefusedAndNothingIsWritten) {
  SignedSet s;
  const std::string archive = s.dir / "server.tic", signature = archive + ".minisig";
  const std::string pristine = read_file(archive), pristine_signature = read_file(signature);
  using namespace std::placeholders;
  const auto mismatch = std::bind(fixed, "signature does not match the archive", _1, _2);
  const auto bad_file = std::bind(fixed, "bad signature file: not a minisign signature", _1, _2);
  const auto missing_signature = [](const SignedSet&, const std::string& name) {
    return "no signature: " + name + ".minisig not found";
  };
  // The MAC is public (every copy of kestrel holds its key): a forger
  // recomputes it, so only the signature stands in the way.
  const auto reseal = [&] { write_test_archive_mac(archive, product_key()); };
  const std::vector<Spoiler> spoilers = {
      {"unsigned", [&](const SignedSet&) { fs::remove(signature); }, missing_signature},
      {"unknown key", [&](const SignedSet& set) { minisign_sign(set.other, archive); },
       [](const SignedSet& set, const std::string&) { return "signed by unknown key " + set.other.id; }},
      {"a header byte", [&](const SignedSet&) { flip_byte(archive, 101); }, mismatch},
      {"a table byte", [&](const SignedSet&) { flip_byte(archive, toc_offset(archive) + 40), reseal(); }, mismatch},
      {"a stream byte", [&](const SignedSet&) { flip_byte(archive, TicHeader::kSize + 30); }, mismatch},
      {"the last byte", [&](const SignedSet&) { flip_byte(archive, -1), reseal(); }, mismatch},
      {"another archive's signature",
       [&](const SignedSet& set) { write_file(signature, read_file(set.dir / "client.tic.minisig")); }, mismatch},
      {"a truncated signature", [&](const SignedSet&) { write_file(signature, pristine_signature.substr(0, 120)); },
       bad_file},
      {"a garbled signature",
       [&](const SignedSet&) {
         std::string text = pristine_signature;
         text[text.find('\n') + 10] = '*';
         write_file(signature, text);
       },
       bad_file},
      {"a changed trusted comment",
       [&](const SignedSet&) {
         std::string text = pristine_signature;
         text.insert(text.find("\ntrusted comment: ") + 18, "release 18 ");
         write_file(signature, text);
       },
       std::bind(fixed, "comment signature does not match", _1, _2)},
      {"a legacy signature", [&](const SignedSet& set) { minisign_sign(set.release, archive, {"-l"}); },
       std::bind(fixed, "legacy signature: sign it again with a current minisign", _1, _2)},
  };
  write_file(s.dir / "before/etc/tarnserve.conf", "edited by the administrator\n");
  for (const Spoiler& spoiler : spoilers) {
    write_file(archive, pristine);
    write_file(signature, pristine_signature);
    spoiler.spoil(s);
    const std::string cause = spoiler.cause(s, "../server.tic");

    fs::remove_all(s.dir / "target");
    fs::copy(s.dir / "before", s.dir / "target", fs::copy_options::recursive);
    const RunResult r = run_kestrel(
        {"install", "-l", "install.log", "-d", "target", "-o", "*", "../client.tic", "../server.tic"},
        s.trusting_release());
    EXPECT_EQ(r.status, 255) << spoiler.what;
    EXPECT_EQ(r.out, "") << spoiler.what;
    EXPECT_EQ(r.err, "kestrel: install: ../server.tic: " + cause + "\n") << spoiler.what;
    EXPECT_EQ(read_file(s.dir / "target/install.log"), "") << spoiler.what;
    fs::remove(s.dir / "target/install.log");
    EXPECT_EQ(s.tree("target"), s.tree("before")) << spoiler.what;

    const RunResult validate = run_kestrel({"validate", "client.tic", "server.tic"}, s.trusting_release());
    EXPECT_EQ(validate.status, 255) << spoiler.what;
    EXPECT_EQ(validate.err, "kestrel: validate: server.tic: " + spoiler.cause(s, "server.tic") + "\n") << spoiler.what;
    const RunResult verify = run_kestrel({"verify", "-d", "before", "-o", "*", "../client.tic", "../server.tic"},
                                         s.trusting_release());
    EXPECT_EQ(verify.status, 255) << spoiler.what;
    EXPECT_EQ(verify.out + verify.err, "kestrel: verify: ../server.tic: " + cause + "\n") << spoiler.what;
    const RunResult remove = run_kestrel({"remove", "-d", "before", "-o", "*", "../client.tic", "../server.tic"},
                                         s.trusting_release());
    EXPECT_EQ(remove.err, "kestrel: remove: ../server.tic: " + cause + "\n") << spoiler.what;
    EXPECT_TRUE(file_exists(s.dir / "before/etc/tarnserve.conf")) << spoiler.what;
  }
}

TEST(SignedArchives, ATrustEntryThatCannotBeUsedFailsEveryCheckingCommand) {
  SignedSet s;
  write_file(s.dir / "garbage.pub", "untrusted comment: not really\nAAAA\n");
  fs::create_directories(s.dir / "empty");
  const std::string missing = s.dir / "missing.pub";
  for (const auto& [setting, line] : std::vector<std::pair<std::string, std::string>>{
           {s.release.public_key + ":" + missing, missing + ": No such file or directory"},
           {s.dir / "garbage.pub", s.dir / "garbage.pub: not a minisign public key"},
           {s.dir / "empty", s.dir / "empty: no *.pub key in the directory"},
           {"keys", "keys: not an absolute path"},
       }) {
    const RunResult install = s.install("target", s.trusting(setting));
    EXPECT_EQ(install.status, 255) << setting;
    EXPECT_EQ(install.err, "kestrel: install: " + line + "\n");
    EXPECT_EQ(s.tree("target").size(), 1u);
    EXPECT_EQ(read_file(s.dir / "target/install.log"), "");
    const RunResult validate = run_kestrel({"validate", "server.tic"}, s.trusting(setting));
    EXPECT_EQ(validate.status, 255);
    EXPECT_EQ(validate.err, "kestrel: validate: " + line + "\n");
  }
}

TEST(SignedArchives, WithoutKeysNothingIsCheckedAndListSpaceAndOptionsNeverCheck) {
  SignedSet s;
  const RunResult reference = s.install("reference", s.without_keys());
  ASSERT_EQ(reference.status, 0);
  // Signatures that would be refused, on archives no key signed.
  write_file(s.dir / "server.tic.minisig", "garbage");
  fs::remove(s.dir / "client.tic.minisig");
  const std::string empty_directory = s.dir / "none";
  fs::create_directories(empty_directory);
  for (const RunOptions& options : {s.without_keys(), s.trusting("")}) {
    const RunResult r = s.install("target", options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, reference.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.tree("target"), s.tree("reference"));
    EXPECT_EQ(run_kestrel({"validate", "client.tic", "server.tic"}, options).status, 0);
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", "-o", "*", "client.tic", "server.tic"},
           {"space", "-o", "*", "client.tic", "server.tic"},
           {"options", "client.tic", "server.tic"}}) {
    const RunResult plain = run_kestrel(args, s.without_keys());
    const RunResult trusting = run_kestrel(args, s.trusting(s.dir / "missing.pub"));
    EXPECT_EQ(trusting.status, plain.status) << args[0];
    EXPECT_EQ(trusting.out, plain.out) << args[0];
    EXPECT_EQ(trusting.err, "") << args[0];
  }
}

TEST(SignedArchives, TictoolDumpShowsTheSignatureAndWhetherItVerifies) {
  SignedSet s;
  minisign_sign(s.other, s.dir / "client.tic", {"-t", "client\tbuild 7254"});
  const RunResult text = run_tictool({"dump", "server.tic", "client.tic"}, s.trusting_release());
  ASSERT_EQ(text.status, 0) << text.err;
  auto signature_lines = [](const std::string& dump, const std::string& file) {
    const size_t at = dump.find("  signature " + file + "\n");
    return at == std::string::npos ? std::string() : dump.substr(at, dump.find("\n", dump.find("verifies", at)) + 1 - at);
  };
  const std::string server = signature_lines(text.out, "server.tic.minisig");
  EXPECT_NE(server.find("    key id " + s.release.id + "\n    algorithm prehashed\n    trusted comment timestamp:"),
            std::string::npos) << server;
  EXPECT_NE(server.find("\\x09file:server.tic"), std::string::npos) << "control characters escaped: " << server;
  EXPECT_NE(server.find("    verifies yes: key " + s.release.public_key + "\n"), std::string::npos) << server;
  EXPECT_EQ(signature_lines(text.out, "client.tic.minisig"),
            "  signature client.tic.minisig\n    key id " + s.other.id +
                "\n    algorithm prehashed\n    trusted comment client\\x09build 7254\n"
                "    verifies no: signed by unknown key " + s.other.id + "\n");

  const RunResult unchecked = run_tictool({"dump", "client.tic"}, s.without_keys());
  EXPECT_NE(unchecked.out.find("    verifies not checked: no trusted keys configured\n"), std::string::npos);
  fs::remove(s.dir / "client.tic.minisig");
  EXPECT_EQ(run_tictool({"dump", "client.tic"}, s.without_keys()).out.find("signature"), std::string::npos);

  const RunResult json = run_tictool({"dump", "--json", "server.tic"}, s.trusting_release());
  Result<Json> parsed = parse_json(json.out);
  ASSERT_TRUE(parsed.ok()) << json.out;
  Json& document = parsed.value();
  const Json& signature = document["archives"][0]["signature"];
  EXPECT_EQ(signature["file"], "server.tic.minisig");
  EXPECT_EQ(signature["key_id"], s.release.id);
  EXPECT_EQ(signature["algorithm"], "prehashed");
  EXPECT_EQ(signature["trusted_comment"].get<std::string>().rfind("timestamp:", 0), 0u) << json.out;
  EXPECT_EQ(signature["verifies"], true);
  EXPECT_EQ(signature["reason"], s.release.public_key);
}

}  // namespace
