#include "platform/error_word.h"

#include <errno.h>
#include <string.h>

#include <utility>

long long ERROR = 0;

namespace {

a_failure& last_published() {
  static a_failure failure;
  return failure;
}

}  // namespace

unsigned error_step(long long word) { return static_cast<unsigned>(word >> 8) & 0xfff; }

int error_errno(long long word) { return static_cast<int>(word & 0xff); }

long long error_word(int error, unsigned code) {
  return static_cast<long long>(static_cast<int>(static_cast<unsigned>(error) | (code << 8)));
}

const a_failure& published_failure() { return last_published(); }

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

a_failure refusal_of(const a_step& step, std::string subject, std::string cause) {
  a_failure failure;
  failure.step = step;
  failure.cause = std::move(cause);
  failure.subject = std::move(subject);
  return failure;
}

bool a_failure::publish(const std::string& about) const {
  ERROR = step.code == kNotInTocCode ? kErrorNotInToc : error_word(error, step.code);
  a_failure& last = last_published();
  last = *this;
  last.subject = about;
  return false;
}

std::string a_failure::text() const {
  if (!cause.empty()) return cause;
  if (error != 0) return strerror(error);
  return step.phrase != nullptr ? step.phrase : "failed";
}

std::string a_failure::line() const { return subject.empty() ? text() : subject + ": " + text(); }

a_failure a_failure::about(std::string what) const {
  a_failure told = *this;
  told.subject = std::move(what);
  return told;
}

a_failure a_failure::as(const a_step& outer) const {
  a_failure told = *this;
  told.step = outer;
  if (cause.empty() && error == 0 && step.phrase != nullptr) told.cause = step.phrase;
  return told;
}

a_failure recorded_failure(const std::string& fallback) {
  a_failure failure = published_failure();
  if (!failure.failed()) failure.step = a_step{1u, nullptr};
  if (failure.subject.empty()) failure.subject = fallback;
  return failure;
}
