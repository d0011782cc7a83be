#include "tools/setup-pack/commands/file_writers.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "archive/Stacker.h"
#include "host/files.h"

namespace setup_pack {
namespace {

// Data waiting for a writer, at most: enough to keep both busy, little beside the package.
constexpr size_t kMostBytesQueued = 1024 * 1024;
constexpr size_t kMostFilesQueued = 256;

}  // namespace

FileWriters::FileWriters(unsigned threads) : thread_count_(threads) {}

FileWriters::~FileWriters() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool FileWriters::Add(size_t match, const archive::EntryHeader& header, std::string path,
                      std::vector<uint8_t> data) {
  // Only the reader's thread calls Add, so the threads are started once, by it.
  if (threads_.empty()) {
    for (unsigned i = 0; i < thread_count_; ++i) threads_.emplace_back([this] { Work(); });
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] {
    return failure_ || queue_.empty() ||
           (bytes_queued_ + data.size() <= kMostBytesQueued && queue_.size() < kMostFilesQueued);
  });
  if (failure_) return false;
  bytes_queued_ += data.size();
  queue_.push_back(Job{match, header, std::move(path), std::move(data)});
  lock.unlock();
  changed_.notify_one();
  return true;
}

void FileWriters::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    bytes_queued_ -= job.data.size();
    // After a failure the entries that come after it are not written at all; those before it
    // still are, and one of them may be the first failure.
    if (failure_ && job.match > failure_->match) {
      changed_.notify_all();
      continue;
    }
    touched_.emplace_back(job.match, job.path);
    writing_.push_back(job.match);
    lock.unlock();
    changed_.notify_all();

    std::optional<std::string> message;
    try {
      archive::WriteEntryFile(job.header, job.path, job.data);
    } catch (const std::exception& error) {
      message = error.what();
    } catch (...) {
      message = archive::ExtractFailureText(job.header);
    }

    lock.lock();
    writing_.erase(std::find(writing_.begin(), writing_.end(), job.match));
    if (message && (!failure_ || job.match < failure_->match)) {
      failure_ = WriteFailure{job.match, std::move(*message)};
    }
    ForgetSettledFiles();
    changed_.notify_all();
  }
}

// A file comes after a failed one only if it comes after a file still queued or being written,
// or after a failure already known: the files before all of those are settled for good.
void FileWriters::ForgetSettledFiles() {
  if (failure_) return;
  size_t first_open = touched_.empty() ? 0 : touched_.back().first + 1;
  if (!queue_.empty()) first_open = std::min(first_open, queue_.front().match);
  for (const size_t match : writing_) first_open = std::min(first_open, match);
  while (!touched_.empty() && touched_.front().first < first_open) touched_.pop_front();
}

std::optional<WriteFailure> FileWriters::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return queue_.empty() && writing_.empty(); });
  std::optional<WriteFailure> failure = std::move(failure_);
  failure_.reset();
  if (failure) RemoveFilesAfter(failure->match);
  touched_.clear();
  return failure;
}

// Each of these files is new: nothing lay in its folder before the extraction, and no two entries
// share a name, so the file at its path is the one this extraction made.
void FileWriters::RemoveFilesAfter(size_t match) {
  for (const auto& [number, path] : touched_) {
    if (number > match) host::DeleteFileAt(path);
  }
}

}  // namespace setup_pack
