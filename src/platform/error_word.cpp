#include "platform/error_word.h"

#include <errno.h>
#include <string.h>

long long ERROR = 0;

namespace {

// The last failure recorded: what it concerned, why, and its step's phrase
// for when neither the cause nor errno says more.
struct a_recorded_failure {
  std::string subject;
  std::string cause;
  const char* phrase = nullptr;
};

a_recorded_failure& last_failure() {
  static a_recorded_failure failure;
  return failure;
}

void remember(long long word, const char* phrase, const std::string& subject, const std::string& cause) {
  ERROR = word;
  a_recorded_failure& last = last_failure();
  last.subject = subject;
  last.cause = cause;
  last.phrase = phrase;
}

}  // namespace

unsigned error_step(long long word) { return static_cast<unsigned>(word >> 8) & 0xfff; }

int error_errno(long long word) { return static_cast<int>(word & 0xff); }

long long error_word(int error, unsigned code) {
  return static_cast<long long>(static_cast<int>(static_cast<unsigned>(error) | (code << 8)));
}

void record_error(const a_step& step) { remember(error_word(errno, step.code), step.phrase, "", ""); }

void record_error(const a_step& step, const std::string& subject, const std::string& cause) {
  remember(error_word(errno, step.code), step.phrase, subject, cause);
}

void record_not_in_toc(const std::string& subject) {
  remember(kErrorNotInToc, "file not in the table of contents", subject, "");
}

bool record_failure(const a_step& step) {
  record_error(step);
  return false;
}

bool record_failure(const a_step& step, const std::string& subject, const std::string& cause) {
  record_error(step, subject, cause);
  return false;
}

const std::string& error_subject() { return last_failure().subject; }

std::string error_cause() {
  const a_recorded_failure& last = last_failure();
  if (!last.cause.empty()) return last.cause;
  if (ERROR != kErrorNotInToc && error_errno(ERROR) != 0) return strerror(error_errno(ERROR));
  if (last.phrase != nullptr) return last.phrase;
  return ERROR == 0 ? "no error" : "failed at step " + std::to_string(error_step(ERROR));
}

bool a_failure::set(const a_step& failed_step, const std::string& why) {
  if (!failed()) {
    error = errno;
    step = failed_step;
    cause = why;
  }
  return false;
}

a_failure failure_of(const a_step& step, std::string subject, std::string cause) {
  a_failure failure;
  failure.set(step, cause);
  failure.subject = std::move(subject);
  return failure;
}

void a_failure::publish(const std::string& subject) const {
  remember(error_word(error, step.code), step.phrase, subject, cause);
}

std::string a_failure::text() const {
  if (!cause.empty()) return cause;
  if (error != 0) return strerror(error);
  return step.phrase != nullptr ? step.phrase : "failed";
}
