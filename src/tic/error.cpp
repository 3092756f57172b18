#include "tic/error.h"

#include <errno.h>
#include <string.h>

long long ERROR = 0;

namespace {

std::string subject_of_error;
std::string cause_of_error;

struct a_step_phrase {
  unsigned step;
  const char* phrase;
};

// Phrases read as the cause of a failure when errno has nothing to add.
constexpr a_step_phrase kPhrases[] = {
    {kStepOpenArchive, "cannot create the archive"},
    {kStepSeekFirstStream, "cannot seek past the header"},
    {kStepWriterNew, "cannot create a stream writer"},
    {kStepBzip2Filter, "cannot set up the compression"},
    {kStepPaxFormat, "cannot set up the pax format"},
    {kStepBlockSize, "cannot set the block size"},
    {kStepLastBlockSize, "cannot set the last block size"},
    {kStepWriterOpen, "cannot open the stream writer"},
    {kStepTarEntry, "cannot read the file's status"},
    {kStepReadLink, "cannot read the symbolic link"},
    {kStepTarHeader, "cannot write the tar header"},
    {kStepContents, "cannot copy the file's contents"},
    {kStepCloseWriter, "cannot finish the stream"},
    {kStepFinish, "cannot write the tables and the header"},
    {kStepOpenFile, "cannot open the file"},
    {kStepReadFile, "cannot read the file"},
    {kStepWriteData, "cannot compress the file's data"},
    {kStepExtractLoadToc, "cannot load the table of contents"},
    {kStepReaderNew, "cannot create a stream reader"},
    {kStepBzip2, "cannot set up the decompression"},
    {kStepTar, "cannot set up the tar format"},
    {kStepReaderOpen, "cannot open the stream"},
    {kStepFirstHeader, "cannot read the stream's tar header"},
    {kStepEntryCheck, "stream does not hold the file its entry names"},
    {kStepSamePath, "two names reach the same path"},
    {kStepReserved, "refusing to write where the command keeps its own files"},
    {kStepParent, "cannot reach the file's directory"},
    {kStepReadData, "cannot decode the file's data"},
    {kStepCommit, "cannot put the file in place"},
    {kStepHeldBack, "extraction held back by a failed check"},
    {kStepReadInstalled, "cannot read the installed file"},
    {kStepRemoveInstalled, "cannot remove the installed file"},
    {kStepRestore, "cannot restore from the backup"},
    {kStepLock, "cannot lock the install directory"},
    {kStepSpace, "cannot check the install directory"},
    {kStepSync, "cannot flush the installed files to disk"},
    {kStepBackupMove, "cannot move the replaced file into the backup"},
    {kStepBackupMarker, "cannot write the backup marker"},
    {kStepWriteEntry, "cannot write the file"},
    {kStepTail, "cannot read the end of the stream"},
    {kStepReaderClose, "cannot finish reading the stream"},
    {kStepLeftOver, "stream is longer than its data"},
    {kStepMacMismatch, "stream does not match its MAC"},
    {kStepSeekLoadToc, "cannot load the table of contents"},
    {kStepSeekData, "cannot seek to the stream"},
    {kStepListNames, "cannot load the table of contents"},
    {kStepListInto, "cannot load the table of contents"},
    {kStepBytesRequired, "cannot load the table of contents"},
};

}  // namespace

unsigned error_step(long long word) { return static_cast<unsigned>(word >> 8) & 0xfff; }

int error_errno(long long word) { return static_cast<int>(word & 0xff); }

const char* step_phrase(unsigned step) {
  for (const a_step_phrase& p : kPhrases) {
    if (p.step == step) return p.phrase;
  }
  return nullptr;
}

std::string error_sentence(long long word) {
  if (word == 0) return "no error";
  if (word == kErrorNotInToc) return "file not in the table of contents";
  const char* phrase = step_phrase(error_step(word));
  std::string sentence = phrase != nullptr ? phrase : "failed at step " + std::to_string(error_step(word));
  if (error_errno(word) != 0) sentence += std::string(": ") + strerror(error_errno(word));
  return sentence;
}

long long error_word(int error, unsigned step) {
  return static_cast<long long>(static_cast<int>(static_cast<unsigned>(error) | (step << 8)));
}

void record_error(unsigned step) {
  ERROR = error_word(errno, step);
  subject_of_error.clear();
  cause_of_error.clear();
}

void record_error(unsigned step, const std::string& subject, const std::string& cause) {
  record_error(step);
  subject_of_error = subject;
  cause_of_error = cause;
}

void record_error_word(long long word, const std::string& subject, const std::string& cause) {
  ERROR = word;
  subject_of_error = subject;
  cause_of_error = cause;
}

bool record_failure(unsigned step) {
  record_error(step);
  return false;
}

bool record_failure(unsigned step, const std::string& subject, const std::string& cause) {
  record_error(step, subject, cause);
  return false;
}

const std::string& error_subject() { return subject_of_error; }

std::string error_cause() {
  if (!cause_of_error.empty()) return cause_of_error;
  if (ERROR == kErrorNotInToc) return error_sentence(ERROR);
  if (error_errno(ERROR) != 0) return strerror(error_errno(ERROR));
  const char* phrase = step_phrase(error_step(ERROR));
  return phrase != nullptr ? phrase : error_sentence(ERROR);
}

bool a_failure::set(unsigned failed_step, const std::string& why) {
  if (step == 0) {
    error = errno;
    step = failed_step;
    cause = why;
  }
  return false;
}

void a_failure::publish(const std::string& subject) const {
  record_error_word(error_word(error, step), subject, cause);
}

std::string a_failure::text() const {
  if (!cause.empty()) return cause;
  if (error != 0) return strerror(error);
  const char* phrase = step_phrase(step);
  return phrase != nullptr ? phrase : "failed";
}
