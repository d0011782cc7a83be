// Writing extracted files on threads of their own while the reader decodes the entries after
// them: creating a file is the kernel's work, and two threads create many small files in about 0.7
// of the time one takes.
//
// Only new files are handed over: files whose folder held nothing when the entries were checked,
// so that nothing of the user's is replaced out of order. The outcome is what writing one entry
// after another gives: after a failure, the entries before the failed one are written, the failed
// one as far as it got, and the files of the entries after it are taken away again.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/entry_header.h"

namespace setup_pack {

// Two writers beside the reader (measured with 20,000 files on a 2-processor machine).
constexpr unsigned kWriterThreads = 2;

// Files larger than this are written by the reader's own extraction, one after another: their
// data is not held in memory whole.
constexpr size_t kLargestHandedOverFile = 256 * 1024;

struct WriteFailure {
  size_t match = 0;  // the entry's number among those extracted, from 0
  std::string message;
};

class FileWriters {
 public:
  explicit FileWriters(unsigned threads);
  ~FileWriters();
  FileWriters(const FileWriters&) = delete;
  FileWriters& operator=(const FileWriters&) = delete;

  // Hands over entry number `match` (numbers rise from call to call), to be written at `path`.
  // The threads start with the first file handed over. Waits while much data is in flight. False when an earlier file failed: the caller stops
  // reading and calls Finish.
  bool Add(size_t match, const archive::EntryHeader& header, std::string path,
           std::vector<uint8_t> data);
  // Waits until every file handed over is written, or until the first failure (the lowest
  // number) is settled and the files after it are taken away again. Returns that failure.
  std::optional<WriteFailure> Finish();

 private:
  struct Job {
    size_t match;
    archive::EntryHeader header;
    std::string path;
    std::vector<uint8_t> data;
  };
  void Work();
  void ForgetSettledFiles();
  void RemoveFilesAfter(size_t match);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  size_t bytes_queued_ = 0;
  // The numbers of the files being written now.
  std::vector<size_t> writing_;
  bool stopping_ = false;
  std::optional<WriteFailure> failure_;
  // The files begun, with their numbers, in rising order, back to the first that a failure of an
  // earlier one could still have to take away again.
  std::deque<std::pair<size_t, std::string>> touched_;
  unsigned thread_count_;
  std::vector<std::thread> threads_;
};

}  // namespace setup_pack
