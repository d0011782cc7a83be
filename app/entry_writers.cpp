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
// Files a writer takes from the queue at a time, at most: each turn of the lock and each wake-up
// costs a system call or two when the other threads want the lock too, about as much as creating
// a small file.
constexpr size_t kMostFilesTaken = 32;

// What writing one taken file gave.
struct Outcome {
  bool made = false;  // the file was created (false: its name was taken)
  std::optional<std::string> message;  // the failure, when writing failed
};

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
    WriteTaken(Take(1), held);
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
    // Half of what is queued, so that the other writer has the rest.
    WriteTaken(Take(std::min(kMostFilesTaken, (queue_.size() + 1) / 2)), held);
  }
}

// Called with the lock held: takes up to `most` files from the front of the queue for one writer.
// After a failure the entries that come after it are not written at all (those before it still
// are, and one of them may be the first failure); a file whose name an earlier waiting file has
// waits as well, as written now it would come before that one. Neither is taken.
std::vector<EntryWriters::Job> EntryWriters::Take(size_t most) {
  std::vector<Job> taken;
  while (!queue_.empty() && taken.size() < most) {
    Job job = std::move(queue_.front());
    queue_.pop_front();
    bytes_queued_ -= job.file.data.size();
    const bool dropped = failure_ && job.match > failure_->match;
    if (dropped || keys_waiting_.count(job.key) > 0) {
      keys_in_flight_.erase(job.key);
      if (!dropped) Wait(std::move(job));
      continue;
    }
    made_.emplace_back(job.match, job.file.path);
    writing_.push_back(job.match);
    taken.push_back(std::move(job));
  }
  return taken;
}

// Called with the lock held, for files just taken; lets the lock go while they are written, in
// their order, then settles them.
void EntryWriters::WriteTaken(std::vector<Job> taken, host::ScopedLock& held) {
  held.mutex().Unlock();
  changed_.WakeAll();

  // The files after one of this writer's that failed come after a failure: not tried.
  std::vector<Outcome> outcomes;
  outcomes.reserve(taken.size());
  while (outcomes.size() < taken.size() && (outcomes.empty() || !outcomes.back().message)) {
    const Job& job = taken[outcomes.size()];
    Outcome& outcome = outcomes.emplace_back();
    try {
      outcome.made = archive::WriteNewEntryFile(job.header, job.file.path, job.file.data);
    } catch (const std::exception& error) {
      outcome.made = true;
      outcome.message = error.what();
    } catch (...) {
      outcome.made = true;
      outcome.message = archive::ExtractFailureText(job.header);
    }
  }

  held.mutex().Lock();
  for (size_t i = 0; i < taken.size(); ++i) {
    Job& job = taken[i];
    const bool tried = i < outcomes.size();
    writing_.erase(std::find(writing_.begin(), writing_.end(), job.match));
    keys_in_flight_.erase(job.key);
    if (!tried || !outcomes[i].made) {
      // Nothing of this entry is on the disk: nothing may be taken away for it after a failure.
      std::find_if(made_.begin(), made_.end(), [&](const auto& file) {
        return file.first == job.match;
      })->second.clear();
      // A file whose name was taken waits for its turn; one not tried came after a failure.
      if (tried) Wait(std::move(job));
    } else if (outcomes[i].message && (!failure_ || job.match < failure_->match)) {
      failure_ = WriteFailure{job.match, std::move(*outcomes[i].message)};
    }
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
