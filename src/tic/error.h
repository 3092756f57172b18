// The archive module's error word, its step codes, and what they mean.
//
// ERROR is one process-wide 64-bit word, 0 at start. Every failing step of
// the archive module stores a nonzero code in it: errno OR the step's code
// shifted left by 8, widened with sign. Nothing ever resets it; callers only
// test whether it is nonzero, so a failure anywhere in the process is sticky.
// The builder's "file not in the table of contents" stores all ones.
//
// Alongside the word the module keeps what the failing step worked on (a file
// of the archive, the archive itself) and, where errno cannot say it, why it
// failed; the programs turn that into their one-line messages.
#pragma once

#include <string>

extern long long ERROR;

// Step codes, by the operation that stores them.
enum a_step : unsigned {
  // The builder (Tic::compress).
  kStepOpenArchive = 0x44a,        // creating the archive file
  kStepSeekFirstStream = 0x44d,    // the seek to offset 104
  kStepWriterNew = 0x473,          // creating a stream writer
  kStepBzip2Filter = 0x474,        // its compression filter (bzip2 or zstd)
  kStepPaxFormat = 0x475,          // its pax format
  kStepBlockSize = 0x477,          // its block size
  kStepLastBlockSize = 0x479,      // its last-block size
  kStepWriterOpen = 0x47b,         // opening it
  kStepTarEntry = 0x480,           // the tar entry of a file (lstat)
  kStepReadLink = 0x486,           // reading a symbolic link
  kStepTarHeader = 0x48a,          // writing the tar header
  kStepContents = 0x491,           // copying a file's contents
  kStepCloseWriter = 0x494,        // closing a stream writer
  kStepFinish = 0x4ab,             // stamp block, tables and header
  kStepOpenFile = 0x4bb,           // opening a file to archive
  kStepReadFile = 0x4c3,           // reading it
  kStepWriteData = 0x4c4,          // handing its data to the compressor
  // Extraction (Tic::extract).
  kStepExtractLoadToc = 0x591,     // loading the table of contents
  kStepSpace = 0x5b0,              // checking the install directory before writing
  kStepSync = 0x5b1,               // flushing the installed files to disk
  kStepReaderNew = 0x5c2,          // creating a stream reader
  kStepBzip2 = 0x5c3,              // its decompression filters
  kStepTar = 0x5c4,                // its tar format
  kStepReaderOpen = 0x5c6,         // opening it
  kStepFirstHeader = 0x5c8,        // the stream's first tar header
  kStepEntryCheck = 0x5ca,         // the stream's entry is not what the table names
  kStepSamePath = 0x5cb,           // two selected names reach one path
  kStepReserved = 0x5cd,           // a path the command keeps for itself
  kStepParent = 0x5cc,             // reaching the directory that holds the file
  kStepBackupMove = 0x5d3,         // moving a replaced object into the backup
  kStepBackupMarker = 0x5d8,       // writing a "created as" marker
  kStepWriteEntry = 0x5db,         // writing the file (under its temporary name)
  kStepReadData = 0x5dc,           // decoding the file's data
  kStepTail = 0x5e3,               // reading the rest of the stored stream
  kStepReaderClose = 0x5e6,        // closing the reader
  kStepLeftOver = 0x5e8,           // stored bytes left over
  kStepMacMismatch = 0x5e9,        // the stream's MAC differs from its entry's
  kStepCommit = 0x5ea,             // putting the file in place
  kStepHeldBack = 0x5eb,           // a check beside the extraction refused every commit
  // The installed files compared, removed and restored (verify, remove,
  // restore).
  kStepReadInstalled = 0x5f0,      // reading an installed file
  kStepRemoveInstalled = 0x5f1,    // removing an installed file
  kStepRestore = 0x5f2,            // putting back an object of the backup tree
  kStepLock = 0x5f3,               // locking the install directory
  // Positioning (Tic::seek_file).
  kStepSeekLoadToc = 0x607,        // loading the table of contents
  kStepSeekData = 0x60f,           // the seek to an entry's stream
  // Listing and sizing.
  kStepListNames = 0x61d,          // Tic::list()
  kStepListInto = 0x631,           // Tic::list(out, ...)
  kStepBytesRequired = 0x64e,      // Tic::bytes_required
};

// The word the builder stores for a scanned file that the table of contents
// does not list.
constexpr long long kErrorNotInToc = -1;

// The word for a failure of |step| with |error| (an errno value): error OR
// step << 8, as a signed 32-bit value widened to 64 bits; and its parts.
long long error_word(int error, unsigned step);
unsigned error_step(long long word);
int error_errno(long long word);

// What a step does, as a short phrase ("writing the file"); null for a code
// that is not a step of the module.
const char* step_phrase(unsigned step);

// The error word as one sentence: "writing the file: No space left on
// device", or the step's phrase alone when errno was 0 ("the stream does not
// match its MAC"). "no error" for 0.
std::string error_sentence(long long word);

// ERROR = error_word(errno, step). The overloads with |subject| also record
// what the step worked on (an entry name, an input path, an archive path)
// and, when given, |cause|: why it failed, where errno cannot say it.
void record_error(unsigned step);
void record_error(unsigned step, const std::string& subject, const std::string& cause = std::string());

// Stores |word| itself (kErrorNotInToc, or a word carried over from a
// failure recorded elsewhere) with what it concerned.
void record_error_word(long long word, const std::string& subject, const std::string& cause = std::string());

// record_error(...), then false: the result of a step that failed.
bool record_failure(unsigned step);
bool record_failure(unsigned step, const std::string& subject, const std::string& cause = std::string());

// What the last recorded failure concerned (empty when its step did not say)
// and why it failed: the recorded cause, else the text of its errno, else
// its step's phrase.
const std::string& error_subject();
std::string error_cause();

// A failure kept aside until the thread that owns ERROR publishes it: a
// worker decoding a stream records here, the committer publishes the
// failure of the file it stops at.
struct a_failure {
  unsigned step = 0;  // 0: no failure
  int error = 0;      // errno when the step failed
  std::string cause;  // why, where errno cannot say it

  bool failed() const { return step != 0; }
  // Keeps the first failure only; takes errno now. Returns false, the
  // result of a step that failed.
  bool set(unsigned failed_step, const std::string& why = std::string());
  // Publishes the failure as the module's ERROR, about |subject|.
  void publish(const std::string& subject) const;
  // The cause a message shows, as error_cause() does for ERROR.
  std::string text() const;
};
