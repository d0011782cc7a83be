#include "tests/app/job_fixture.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/MainUnit.h"
#include "app/install_jobs.h"
#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/manifest.h"
#include "host/files.h"
#include "tests/support/built_programs.h"

namespace fs = std::filesystem;

namespace app_test {

Entry FileEntry(std::string name, std::string data, uint32_t attributes, uint32_t modified) {
  return Entry{std::move(name), false, std::move(data), attributes, modified};
}

Entry FolderEntry(std::string name) { return Entry{std::move(name), true, "", 0, kMay2003}; }

std::string ManifestText(const std::string& ide_spec, const std::string& folder_name) {
  const std::string free_text(14, ' ');
  return "S" + free_text + ide_spec + "\r\nD" + free_text + folder_name + "\r\n";
}

std::string Filler(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  return bytes;
}

UiCall Busy(bool busy) { return {UiCall::Kind::kBusyCursor, busy ? "1" : "0"}; }
UiCall Message(const std::string& text) { return {UiCall::Kind::kMessage, text}; }
UiCall Status(const std::string& text) { return {UiCall::Kind::kStatus, text}; }
UiCall End() { return {UiCall::Kind::kEndProgram, ""}; }

std::vector<std::string> TreeOf(const std::string& folder) {
  std::vector<std::string> tree;
  const fs::path root = host::NativePath(folder);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string relative = it->path().lexically_relative(root).generic_string();
    if (it->is_directory()) relative += '/';
    tree.push_back(relative);
  }
  std::sort(tree.begin(), tree.end());
  return tree;
}

bool WaitForFile(const std::string& path) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!host::FileExists(path)) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool RemoveFolderOnceReleased(const std::string& folder) {
  const fs::path root = host::NativePath(folder);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code ignored;
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    std::error_code removed;
    fs::remove_all(root, removed);
    if (!removed && !fs::exists(root, ec)) return true;
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void PlaceChildSetup(const std::string& folder) {
  fs::copy_file(testing_support::SetupTestChildProgram(),
                host::NativePath(folder + "\\Setup.exe"), fs::copy_options::overwrite_existing);
}

namespace {

// mingw's std::filesystem does not see a folder through a path with a trailing separator.
fs::path WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return host::NativePath(path);
}

}  // namespace

bool SameFolder(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(WithoutTrailingSeparator(a), WithoutTrailingSeparator(b), ec) && !ec;
}

JobTest::JobTest() {
  fs::create_directories(host::NativePath(platform_temp()));
  temp_variable_ = std::make_unique<testing_support::ScopedTempEnvironment>(platform_temp());
}

JobTest::~JobTest() {
  EXPECT_TRUE(WaitForJobThread());
  archive::SetArchiveMemory(nullptr, 0);
}

void JobTest::LoadPackage(const std::string& manifest, const std::vector<Entry>& entries) {
  archive::MemoryArchive archive(kTestKey, archive::kInstallerBlockStreamLength);
  archive::SeedGenerator seeds(0x5EED0001u);
  archive.writer().AddFile({"id.txt", kArchive, kMay2003, seeds.Next()}, manifest);
  for (const Entry& entry : entries) {
    const archive::EntrySpec entry_spec{entry.name, entry.attributes, entry.modified, seeds.Next()};
    if (entry.folder) {
      archive.writer().AddFolder(entry_spec);
    } else {
      archive.writer().AddFile(entry_spec, entry.data);
    }
  }
  package_ = archive.bytes();
  archive::SetArchiveMemory(package_.data(), static_cast<int32_t>(package_.size()));
  archive::SetArchiveKey(kTestKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  archive::ReadManifest();
}

void JobTest::StartJob(archive::JobKind kind) {
  calls_before_job_ = ui_.Calls().size();
  ++jobs_started_;
  std::shared_ptr<CallbackRecord> record = callback_;
  testing_support::RecordingUi* ui = &ui_;
  app::StartInstallJob(kind, [record, ui] {
    std::lock_guard<std::mutex> lock(record->mutex);
    ++record->count;
    record->ui_calls_seen = ui->Calls().size();
    record->thread = std::this_thread::get_id();
  });
}

bool JobTest::JobsEnded() const {
  const std::vector<UiCall> calls = ui_.Calls();
  const auto ends = std::count_if(calls.begin(), calls.end(), [](const UiCall& call) {
    return call.kind == UiCall::Kind::kEndProgram;
  });
  return CallbacksCalled() + static_cast<int>(ends) >= jobs_started_;
}

bool JobTest::WaitForJobThread() {
  // Generous: it only stops a broken test from hanging.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!JobsEnded()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::vector<UiCall> JobTest::JobCalls() const {
  const std::vector<UiCall> all = ui_.Calls();
  return std::vector<UiCall>(all.begin() + static_cast<std::ptrdiff_t>(calls_before_job_),
                             all.end());
}

std::vector<std::string> JobTest::JobMessages() const {
  std::vector<std::string> messages;
  for (const UiCall& call : JobCalls()) {
    if (call.kind == UiCall::Kind::kMessage) messages.push_back(call.text);
  }
  return messages;
}

int JobTest::CallbacksCalled() const {
  std::lock_guard<std::mutex> lock(callback_->mutex);
  return callback_->count;
}

bool JobTest::CallbackWasLastActOnJobThread() const {
  std::lock_guard<std::mutex> lock(callback_->mutex);
  return callback_->count > 0 && callback_->thread != std::this_thread::get_id() &&
         callback_->ui_calls_seen == ui_.Calls().size();
}

}  // namespace app_test
