// What a failure says: the step that failed, what it concerned, and why;
// and the results that carry it.
//
// A step is one thing an operation does that can fail ("writing the file"):
// a code, and a phrase that says what went wrong when the system's error
// number has nothing to add. Each layer defines the steps of its own
// operations beside them (platform/platform_steps.h, stamp/stamp_steps.h,
// tic/format/format_steps.h, tic/archive/archive_steps.h,
// tic/writer/writer_steps.h, sign/sign_steps.h, install/install_steps.h),
// so a layer never needs to know the steps of the layers above it.
//
// The archive module's error word (platform/error_word.h) carries the code
// of the step that failed. Its codes:
//   0x44a - 0x4c4   the archive builder
//   0x591 - 0x5f3   extraction and the operations on an install directory
//   0x607 - 0x64e   positioning, listing and sizing
//   0x700 - 0x7ef   the layers below the archive module, the archive's own
//                   checks and signatures: never in the word, since the
//                   archive classes publish a failure under a step of their
//                   own (a_failure::as)
//   0x7f0 - 0x7ff   the programs' own (tictool's command line)
//   0xfff           a scanned file the table of contents does not list: the
//                   word is then all ones
#pragma once

#include <optional>
#include <string>
#include <utility>

struct a_step {
  unsigned code = 0;              // 0: no step
  const char* phrase = nullptr;   // "cannot write the file"
};

constexpr bool operator==(const a_step& a, const a_step& b) { return a.code == b.code; }
constexpr bool operator!=(const a_step& a, const a_step& b) { return a.code != b.code; }

// One failure: what failed (the step), about which path or name (the
// subject), and why (errno, or a cause where errno cannot say it). It is
// what operations return (Outcome, Result); the archive classes also
// publish it as their error word at their boundary, and a worker keeps it
// until the thread that owns the error word publishes it.
struct a_failure {
  a_step step;          // code 0: no failure
  int error = 0;        // errno when the step failed
  std::string cause;    // why, where errno cannot say it
  std::string subject;  // the path or name it concerned; may be empty

  bool failed() const { return step.code != 0; }
  // Keeps the first failure only; takes errno now. Returns false, the
  // result of a step that failed.
  bool set(const a_step& failed_step, const std::string& why = std::string());
  // Publishes the failure as the archive module's ERROR, about |subject|,
  // or about its own subject. Returns false, the result of a step that
  // failed.
  bool publish(const std::string& subject) const;
  bool publish() const { return publish(subject); }
  // The cause a message shows: the recorded cause, else the text of its
  // errno, else its step's phrase.
  std::string text() const;
  // What a one-line message says of it: "<subject>: <text>", or the text
  // alone when it names nothing.
  std::string line() const;
  // The same failure about |what|.
  a_failure about(std::string what) const;
  // This failure told as a failure of |outer|, about the same subject and
  // with the same errno: its cause, or its own step's phrase when neither
  // its cause nor errno says why, so that nothing it said is lost.
  a_failure as(const a_step& outer) const;
};

// A failure of |step| about |subject|, taking errno now.
a_failure failure_of(const a_step& step, std::string subject, std::string cause = std::string());

// A failure the program finds itself (in an archive's bytes, a file's
// text, a request) rather than one the system reports: no errno, so its
// cause, or else its step's phrase, says why.
a_failure refusal_of(const a_step& step, std::string subject, std::string cause = std::string());

// What an operation that can fail returns: success, or its failure. A
// caller cannot drop it unseen.
class [[nodiscard]] Outcome {
 public:
  Outcome() = default;
  Outcome(a_failure failure) : failure_(std::move(failure)) {}  // NOLINT: a failure is an outcome

  bool ok() const { return !failure_.failed(); }
  explicit operator bool() const { return ok(); }
  const a_failure& failure() const { return failure_; }

 private:
  a_failure failure_;
};

// What an operation that makes a value and can fail returns: the value, or
// its failure.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}                 // NOLINT: a value is a result
  Result(a_failure failure) : failure_(std::move(failure)) {}  // NOLINT: a failure is a result

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // REQUIRES: ok().
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  const a_failure& failure() const { return failure_; }
  // The outcome alone, the value dropped.
  Outcome outcome() const { return ok() ? Outcome() : Outcome(failure_); }

 private:
  std::optional<T> value_;
  a_failure failure_;
};
