// Writing extracted files on threads of their own while the reader decodes the entries after
// them: creating a file is the kernel's work (and under Wine the server's), and two threads create
// many small files in about 0.7 to 0.8 of the time one takes. The installer's extraction pass and
// setup-pack's extract both use it.
//
// Only new files are written out of turn: a writer creates a file only where nothing has its name
// yet. A file whose name is taken (an earlier installation's file, a file of an earlier entry) or
// whose creation fails for any other reason waits, with its data, and is written in its turn by
// Finish, as the reader writes it. So the outcome is what writing one entry after another gives:
// after a failure, the entries before the failed one are written, the failed one as far as it
// got, and the new files of the entries after it are taken away again; nothing that was there
// before is ever touched out of turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/entry_header.h"
#include "host/thread.h"

namespace app {

// Two writers beside the reader (measured with 2,000 and 20,000 files on a 2-processor machine,
// natively and under Wine).
constexpr unsigned kWriterThreads = 2;

// Files larger than this are written by the reader's own extraction, in their turn: their data
// is not held in memory whole.
constexpr size_t kLargestHandedOverFile = 256 * 1024;

// A file entry as the writers take it: where it goes, and its data, decoded.
struct HandOver {
  std::string path;
  std::vector<uint8_t> data;
};

// The current entry of the reader's walk, if the writers may write it: a file entry of at most
// kLargestHandedOverFile bytes whose name below `target_folder` is a plain ASCII path (see
// archive::IsPlainAsciiPath), whose destination the reader accepts, and whose data is there whole.
// None otherwise, also when reading fails: the reader's own extraction then meets the same
// problem and reports it. The two halves: HandOverPath tells the destination, or none, without
// reading the data; HandOverAt reads it.
std::optional<HandOver> HandOverOf(const archive::EntryHeader& header,
                                   const std::string& target_folder);
std::optional<std::string> HandOverPath(const archive::EntryHeader& header,
                                        const std::string& target_folder);
std::optional<HandOver> HandOverAt(const archive::EntryHeader& header, std::string path);

class EntryWriters {
 public:
  explicit EntryWriters(unsigned threads);
  ~EntryWriters();
  EntryWriters(const EntryWriters&) = delete;
  EntryWriters& operator=(const EntryWriters&) = delete;

  // Hands over entry number `match` (numbers rise from call to call; only one thread calls Add
  // and Finish). The threads start with the first file handed over. Waits while much data is in
  // flight, or while a file of the same name (up to case) is still being written. Returns false
  // when the caller must call Finish before it goes on: an earlier file failed (this one is then
  // dropped), or the files waiting for their turn hold much data.
  bool Add(size_t match, const archive::EntryHeader& header, HandOver file);
  // Waits until every file handed over is written, then writes the files that wait for their
  // turn, in entry order, until the first failure. The new files of the entries after the first
  // failed one are taken away again, and its failure is shown as ExtractEntry shows its own
  // (Ui().ShowUserMessage). Returns that entry's number, none when every file was written.
  std::optional<size_t> Finish();

 private:
  struct WriteFailure {
    size_t match;  // the entry's number among those extracted, from 0
    std::string message;
  };
  struct Job {
    size_t match;
    archive::EntryHeader header;
    HandOver file;
    std::string key;  // the path upper-cased: one key, one file
  };
  void StartThreads();
  void Work();
  std::vector<Job> Take(size_t most);
  void WriteTaken(std::vector<Job> taken, host::ScopedLock& held);
  void Wait(Job job);
  void ForgetSettledFiles();
  void RemoveFilesAfter(size_t match);

  host::Mutex mutex_;
  host::ConditionVariable changed_;
  std::deque<Job> queue_;
  size_t bytes_queued_ = 0;
  // The keys of the files queued or being written.
  std::set<std::string> keys_in_flight_;
  // The numbers of the files taken by a writer and not settled yet.
  std::vector<size_t> writing_;
  // The files that wait for their turn, by number, their keys and their data's size.
  std::map<size_t, Job> waiting_;
  std::set<std::string> keys_waiting_;
  size_t bytes_waiting_ = 0;
  bool stopping_ = false;
  std::optional<WriteFailure> failure_;
  // The files begun, with their numbers, in rising order, back to the first that a failure of an
  // earlier entry could still have to take away again; the path is cleared when nothing was made.
  std::deque<std::pair<size_t, std::string>> made_;
  unsigned thread_count_;
  bool threads_started_ = false;
  std::vector<host::JoinableThread> threads_;
};

}  // namespace app
