// What a failure says: the step that failed, and why.
//
// A step is one thing an operation does that can fail ("writing the file"):
// a code, which the archive module's error word carries
// (platform/error_word.h), and a phrase that says what went wrong when the
// system's error number has nothing to add. Each layer defines the steps of
// its own operations beside them (tic/archive/archive_steps.h,
// tic/writer/writer_steps.h, install/install_steps.h), so a layer never
// needs to know the steps of the layers above it.
#pragma once

#include <string>

struct a_step {
  unsigned code = 0;              // 0: no step
  const char* phrase = nullptr;   // "cannot write the file"
};

constexpr bool operator==(const a_step& a, const a_step& b) { return a.code == b.code; }
constexpr bool operator!=(const a_step& a, const a_step& b) { return a.code != b.code; }

// A failure kept aside until the thread that owns the error word publishes
// it: a worker decoding a stream records here, the committer publishes the
// failure of the file it stops at.
struct a_failure {
  a_step step;        // code 0: no failure
  int error = 0;      // errno when the step failed
  std::string cause;  // why, where errno cannot say it

  bool failed() const { return step.code != 0; }
  // Keeps the first failure only; takes errno now. Returns false, the
  // result of a step that failed.
  bool set(const a_step& failed_step, const std::string& why = std::string());
  // Publishes the failure as the archive module's ERROR, about |subject|.
  void publish(const std::string& subject) const;
  // The cause a message shows: the recorded cause, else the text of its
  // errno, else its step's phrase.
  std::string text() const;
};
