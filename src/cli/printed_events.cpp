#include "cli/printed_events.h"

#include <errno.h>
#include <stdio.h>

#include "cli/commands.h"
#include "display/message.h"
#include "display/progress.h"
#include "install/install_steps.h"
#include "sign/signature_check.h"

PrintedEvents::PrintedEvents(const char* command, bool progress) : command_(command), progress_(progress) {}

PrintedEvents::~PrintedEvents() = default;

void PrintedEvents::print(const a_failure& failure) const {
  complain(command_, failure.subject.empty() ? where_ : failure.subject, failure.text());
}

void PrintedEvents::waiting(const std::string& holder) {
  complain(command_, where_, "waiting for " + holder + " to finish with the install directory");
}

// The reporter lives from the first file to the end, when its closing line
// comes; what follows on standard error comes after it.
void PrintedEvents::begin(unsigned long long total) {
  if (!progress_) return;
  reporter_ = std::make_unique<a_progress_reporter>();
  reporter_->total = total;
}

void PrintedEvents::file(const std::string& name, unsigned long long size) {
  if (reporter_) reporter_->display_progress(name, size);
}

void PrintedEvents::end() {
  reporter_.reset();
  fflush(stdout);
}

void PrintedEvents::kept_changed(const std::string& path, bool beside) {
  std::string line = std::string(command_) + ": kept changed file " + printable(path);
  if (beside) line += ", new version in " + printable(path + ".kestrel-new");
  complain_as("kestrel", line);
}

struct SignedArchives::a_check {
  SignatureCheck signatures;
};

SignedArchives::SignedArchives() : check_(std::make_unique<a_check>()) {}

SignedArchives::~SignedArchives() = default;

Outcome SignedArchives::start(Tic& archives) { return check_->signatures.start(archives); }

Outcome SignedArchives::finish() { return check_->signatures.finish(); }
