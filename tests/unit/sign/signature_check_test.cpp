// The check before anything is committed: what it says about an archive it
// refuses, and about a trust configuration it cannot use, without running a
// program. The commands show the same lines end to end.
#include "sign/signature_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "sign/sign_steps.h"
#include "support/archive_writer.h"
#include "support/fresh_error_word.h"
#include "support/minisign.h"
#include "support/temp_dir.h"
#include "tic/archive/tic.h"

namespace {

class SignatureCheckFailure : public FreshErrorWord {
 protected:
  void TearDown() override {
    unsetenv(kTrustedKeysVariable);
    FreshErrorWord::TearDown();
  }
};

// The failure of a check of the archive at |path| with the keys |trusted|
// names: started, then finished.
a_failure check(const std::string& path, const std::string& trusted) {
  setenv(kTrustedKeysVariable, trusted.c_str(), 1);
  Tic archive(path.c_str(), false, nullptr, 0);
  SignatureCheck signatures;
  Outcome checked = signatures.start(archive);
  if (checked) checked = signatures.finish();
  return checked.failure();
}

TEST_F(SignatureCheckFailure, NamesTheArchiveOrTheTrustEntryAndSaysWhy) {
  TempDir dir;
  const MinisignKeyPair release = make_key_pair(dir.path(), "release");
  TicToc toc;
  toc.file_map["f"] = make_entry(toc.options.option_mask("o"));
  const std::string archive = dir / "a.tic";
  write_test_archive(archive, toc, true);

  const a_failure unsigned_archive = check(archive, release.public_key);
  EXPECT_EQ(unsigned_archive.step, kStepSignature);
  EXPECT_EQ(unsigned_archive.line(), archive + ": no signature: " + archive + ".minisig not found");

  write_file(archive + ".minisig", "untrusted comment: nothing else\n");
  EXPECT_EQ(check(archive, release.public_key).line(), archive + ": bad signature file: not a minisign signature");

  minisign_sign(release, archive, {"-l"});
  EXPECT_EQ(check(archive, release.public_key).line(),
            archive + ": legacy signature: sign it again with a current minisign");

  const a_failure untrusted = check(archive, "keys/release.pub");
  EXPECT_EQ(untrusted.step, kStepTrustedKeys);
  EXPECT_EQ(untrusted.line(), "keys/release.pub: not an absolute path");

  minisign_sign(release, archive);
  EXPECT_FALSE(check(archive, release.public_key).failed()) << "signed by the trusted key";
  EXPECT_EQ(ERROR, 0) << "a check does not speak through the error word";
}

}  // namespace
