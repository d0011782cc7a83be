#include "app/entry_writers.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "archive/Stacker.h"
#include "archive/names.h"
#include "archive/package_rules.h"
#include "host/files.h"
#include "host/helpers.h"
#include "host/installer_ui.h"

namespace app {
namespace {

// Data waiting for a writer, at most: enough to keep both busy, little beside the package.
constexpr size_t kMostBytesQueued = 1024 * 1024;
constexpr size_t kMostFilesQueued = 256;

}  // namespace

std::optional<std::string> HandOverPath(const archive::EntryHeader& header,
                                        const std::string& target_folder) {
  if (archive::IsFolderEntry(header) || header.size < 0 ||
      static_cast<size_t>(header.size) > kLargestHandedOverFile) {
    return std::nullopt;
  }
  try {
    std::string path = archive::EntryDestination(header, target_folder);
    const size_t below = host::AddBackslash(target_folder).size();
    if (path.size() <= below || !archive::IsPlainAsciiPath(path.substr(below))) {
      return std::nullopt;
    }
    return path;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<HandOver> HandOverAt(const archive::EntryHeader& header, std::string path) {
  try {
    HandOver file{std::move(path), archive::ReadEntryData(header)};
    if (file.data.size() != static_cast<size_t>(header.size)) return std::nullopt;
    return file;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<HandOver> HandOverOf(const archive::EntryHeader& header,
                                   const std::string& target_folder) {
  std::optional<std::string> path = HandOverPath(header, target_folder);
  if (!path) return std::nullopt;
  return HandOverAt(header, std::move(*path));
}

EntryWriters::EntryWriters(unsigned threads) : thread_count_(threads) {}

EntryWriters::~EntryWriters() {
  {
    const host::ScopedLock held(mutex_);
    stopping_ = true;
  }
  changed_.WakeAll();
  for (host::JoinableThread& thread : threads_) thread.Join();
}

// Without a thread of their own (none could be started) the files are written by Add itself,
// under the same rules.
void EntryWriters::StartThreads() {
  threads_started_ = true;
  for (unsigned i = 0; i < thread_count_; ++i) {
    host::JoinableThread thread;
    if (!thread.Start([this] { Work(); })) break;
    threads_.push_back(std::move(thread));
  }
}

bool EntryWriters::Add(size_t match, const archive::EntryHeader& header, HandOver file) {
  // Only the reader's thread calls Add, so the threads are started once, by it.
  if (!threads_started_) StartThreads();
  std::string key = archive::UpperCaseAscii(file.path);
  const size_t size = file.data.size();
  host::ScopedLock held(mutex_);
  changed_.WaitUntil(held, [&] {
    return failure_ || (keys_in_flight_.count(key) == 0 &&
                        (queue_.empty() || (bytes_queued_ + size <= kMostBytesQueued &&
                                            queue_.size() < kMostFilesQueued)));
  });
  if (failure_) return false;
  keys_in_flight_.insert(key);
  bytes_queued_ += size;
  queue_.push_back(Job{match, header, std::move(file), std::move(key)});
  if (threads_.empty()) {
    Job job = std::move(queue_.front());
    queue_.pop_front();
    Write(std::move(job), held);
  } else {
    changed_.WakeAll();
  }
  return !failure_ && bytes_waiting_ <= kMostBytesQueued;
}

void EntryWriters::Work() {
  host::ScopedLock held(mutex_);
  for (;;) {
    changed_.WaitUntil(held, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    Write(std::move(job), held);
  }
}

// Called with the lock held, for a job just taken from the queue; lets the lock go while the file
// is written.
void EntryWriters::Write(Job job, host::ScopedLock& held) {
  bytes_queued_ -= job.file.data.size();
  // After a failure the entries that come after it are not written at all; those before it
  // still are, and one of them may be the first failure.
  const bool dropped = failure_ && job.match > failure_->match;
  // A file whose name an earlier waiting file has waits as well: written now, it would come
  // before that one.
  if (dropped || keys_waiting_.count(job.key) > 0) {
    keys_in_flight_.erase(job.key);
    if (!dropped) Wait(std::move(job));
    changed_.WakeAll();
    return;
  }
  made_.emplace_back(job.match, job.file.path);
  writing_.push_back(job.match);
  held.mutex().Unlock();
  changed_.WakeAll();

  bool made = true;
  std::optional<std::string> message;
  try {
    made = archive::WriteNewEntryFile(job.header, job.file.path, job.file.data);
  } catch (const std::exception& error) {
    message = error.what();
  } catch (...) {
    message = archive::ExtractFailureText(job.header);
  }

  held.mutex().Lock();
  writing_.erase(std::find(writing_.begin(), writing_.end(), job.match));
  keys_in_flight_.erase(job.key);
  if (!made) {
    // Nothing of this entry is on the disk: nothing may be taken away for it after a failure.
    std::find_if(made_.begin(), made_.end(), [&](const auto& file) {
      return file.first == job.match;
    })->second.clear();
    Wait(std::move(job));
  } else if (message && (!failure_ || job.match < failure_->match)) {
    failure_ = WriteFailure{job.match, std::move(*message)};
  }
  ForgetSettledFiles();
  changed_.WakeAll();
}

// Called with the lock held.
void EntryWriters::Wait(Job job) {
  bytes_waiting_ += job.file.data.size();
  keys_waiting_.insert(job.key);
  const size_t match = job.match;
  waiting_.emplace(match, std::move(job));
}

// A file comes after a failed one only if it comes after a file still queued, being written or
// waiting for its turn, or after a failure already known: the files before all of those are
// settled for good.
void EntryWriters::ForgetSettledFiles() {
  if (failure_) return;
  size_t first_open = made_.empty() ? 0 : made_.back().first + 1;
  if (!queue_.empty()) first_open = std::min(first_open, queue_.front().match);
  for (const size_t match : writing_) first_open = std::min(first_open, match);
  if (!waiting_.empty()) first_open = std::min(first_open, waiting_.begin()->first);
  while (!made_.empty() && made_.front().first < first_open) made_.pop_front();
}

std::optional<size_t> EntryWriters::Finish() {
  std::optional<WriteFailure> failure;
  {
    host::ScopedLock held(mutex_);
    changed_.WaitUntil(held, [&] { return queue_.empty() && writing_.empty(); });
    // The writers are idle until the next Add, which only this thread makes.
    failure = std::move(failure_);
    failure_.reset();
    for (const auto& [match, job] : waiting_) {
      if (failure && match > failure->match) break;
      try {
        archive::WriteEntryFile(job.header, job.file.path, job.file.data);
      } catch (const std::exception& error) {
        failure = WriteFailure{match, error.what()};
      } catch (...) {
        failure = WriteFailure{match, archive::ExtractFailureText(job.header)};
      }
    }
    if (failure) RemoveFilesAfter(failure->match);
    made_.clear();
    waiting_.clear();
    keys_waiting_.clear();
    bytes_waiting_ = 0;
  }
  if (!failure) return std::nullopt;
  host::Ui().ShowUserMessage(failure->message);
  return failure->match;
}

// Each of these files is new: a writer created it where nothing had its name, so taking it away
// leaves what was there before.
void EntryWriters::RemoveFilesAfter(size_t match) {
  for (const auto& [number, path] : made_) {
    if (number > match && !path.empty()) host::DeleteFileAt(path);
  }
}

}  // namespace app
