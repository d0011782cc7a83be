// DeleteTree on trees that try to lead it astray: symbolic links that loop, a folder link back to
// its own parent, links out of the tree, and a tree deeper than the longest path the platform
// accepts. Whatever it leaves, it ends, and nothing outside the tree changes.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/files.h"
#include "host/helpers.h"
#include "tests/faults/fault_support.h"
#include "tests/support/temp_folder.h"

namespace {

using Listing = std::map<std::string, std::string>;

class DeleteTreeFaultTest : public testing_support::TempFolderTest {
 protected:
  void MakeOutsideAndTree() {
    host::CreateFolderWithParents(temp_.Sub("outside\\inner"));
    testing_support::WriteTextFile(temp_.Sub("outside\\keep.txt"), "outside");
    testing_support::WriteTextFile(temp_.Sub("outside\\inner\\deep.txt"), "outside, deeper");
    host::CreateFolderWithParents(temp_.Sub("tree\\sub"));
    testing_support::WriteTextFile(temp_.Sub("tree\\a.txt"), "a");
    testing_support::WriteTextFile(temp_.Sub("tree\\sub\\b.txt"), "b");
  }

  // What may remain of a tree whose links DeleteTree leaves in place: links, and the folders
  // that hold them. Never a file, never a folder with nothing left in it.
  static void ExpectOnlyLinksLeft(const Listing& tree_left) {
    for (const auto& [path, what] : tree_left) {
      if (what.rfind("link to ", 0) == 0) continue;
      ASSERT_EQ(what, "folder") << path << " was left: " << what;
      bool holds_something = false;
      for (const auto& [other, ignored] : tree_left) {
        holds_something = holds_something || other.rfind(path + "\\", 0) == 0;
      }
      EXPECT_TRUE(holds_something) << "the empty folder " << path << " was left";
    }
  }
};

TEST_F(DeleteTreeFaultTest, LoopsAndLinksOutOfTheTreeNeitherHangNorReachOutside) {
  struct Link {
    std::string at;      // below the test folder
    std::string points;  // the link's text; a leading '=' stands for the test folder's path
  };
  struct Case {
    const char* name;
    std::vector<Link> links;
  };
  const Case cases[] = {
      {"two links pointing at each other", {{"tree\\a", "b"}, {"tree\\b", "a"}}},
      {"a link to itself", {{"tree\\sub\\self", "self"}}},
      {"a folder link to its own parent", {{"tree\\sub\\up", ".."}}},
      {"a folder link to the tree by its full path", {{"tree\\sub\\root", "=/tree"}}},
      {"a folder link out of the tree", {{"tree\\sub\\out", "=/outside"}}},
      {"a relative folder link out of the tree", {{"tree\\sub\\out", "../../outside"}}},
      {"a link to a file outside", {{"tree\\keep.txt", "=/outside/keep.txt"}}},
      {"links leading out through a loop",
       {{"tree\\sub\\x", "y"}, {"tree\\sub\\y", "../sub/x"}, {"tree\\z", "=/outside/inner"}}},
  };
  const std::string root = host::NativePath(temp_.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeOutsideAndTree();
    for (const Link& link : c.links) {
      const std::string points = link.points[0] == '=' ? root + link.points.substr(1) : link.points;
      ASSERT_EQ(::symlink(points.c_str(), host::NativePath(temp_.Sub(link.at)).c_str()), 0)
          << link.at;
    }
    const Listing before = fault_testing::Snapshot(temp_.path());

    host::DeleteTree(temp_.Sub("tree"));

    const Listing after = fault_testing::Snapshot(temp_.path());
    EXPECT_EQ(fault_testing::Without(after, "tree"), fault_testing::Without(before, "tree"));
    EXPECT_EQ(testing_support::ReadWholeFile(temp_.Sub("outside\\inner\\deep.txt")),
              "outside, deeper");
    ExpectOnlyLinksLeft(fault_testing::Snapshot(temp_.Sub("tree")));
    std::error_code ignored;
    std::filesystem::remove_all(host::NativePath(temp_.Sub("tree")), ignored);
    std::filesystem::remove_all(host::NativePath(temp_.Sub("outside")), ignored);
  }
}

// A folder of the tree on which a folder from outside is mounted (a bind mount, the POSIX
// counterpart of a Windows mount point) leads to another place just as a link does, and must not
// be entered either. The mount lives in a private mount namespace of a forked child, so it ends
// with the child and no other process ever sees it.
TEST_F(DeleteTreeFaultTest, FolderMountedFromOutsideIsNotEntered) {
  MakeOutsideAndTree();
  const std::string mount_point = temp_.Sub("tree\\sub\\mounted");
  ASSERT_TRUE(host::CreateFolderWithParents(mount_point));
  const Listing outside = fault_testing::Snapshot(temp_.Sub("outside"));

  const fault_testing::ChildOutcome outcome = fault_testing::RunInChild([&] {
    fault_testing::Report report;
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(host::NativePath(temp_.Sub("outside")).c_str(),
                host::NativePath(mount_point).c_str(), nullptr, MS_BIND, nullptr) != 0) {
      report["cannot_mount"] = fault_testing::PlatformText(errno);
      return report;
    }
    host::DeleteTree(temp_.Sub("tree"));
    return report;
  });

  ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
  if (outcome.report.count("cannot_mount") != 0) {
    GTEST_SKIP() << "this process cannot mount a folder in a private namespace: "
                 << outcome.report.at("cannot_mount");
  }
  EXPECT_EQ(fault_testing::Snapshot(temp_.Sub("outside")), outside);
  EXPECT_FALSE(host::FileExists(temp_.Sub("tree\\a.txt")));
  EXPECT_FALSE(host::FileExists(temp_.Sub("tree\\sub\\b.txt")));
}

// A chain of folders with one long name, made and removed through open folder handles, one level
// at a time, because its full path is longer than any path call accepts.
class DeepChain {
 public:
  static constexpr size_t kNameLength = 200;

  DeepChain(const std::string& top, int depth) : top_(top), depth_(depth) {
    int folder = ::open(top_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < depth_ && folder >= 0; ++level) {
      const int next = ::mkdirat(folder, name_.c_str(), 0755) == 0
                           ? ::openat(folder, name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                           : -1;
      ::close(folder);
      folder = next;
    }
    if (folder < 0) throw std::runtime_error("cannot make the chain below " + top_);
    const int file = ::openat(folder, "bottom.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    made_ = file >= 0;
    if (file >= 0) ::close(file);
    ::close(folder);
  }
  ~DeepChain() { Remove(); }
  DeepChain(const DeepChain&) = delete;
  DeepChain& operator=(const DeepChain&) = delete;

  bool made() const { return made_; }

  // Walks down as far as the chain goes, then back up removing it.
  void Remove() {
    int folder = ::open(top_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int levels = 0;
    for (int next; folder >= 0 && (next = ::openat(folder, name_.c_str(), O_RDONLY | O_DIRECTORY |
                                                                   O_CLOEXEC)) >= 0;
         ++levels) {
      ::close(folder);
      folder = next;
    }
    if (folder < 0) return;
    ::unlinkat(folder, "bottom.txt", 0);
    for (; levels > 0; --levels) {
      const int parent = ::openat(folder, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(folder);
      if (parent < 0) return;
      ::unlinkat(parent, name_.c_str(), AT_REMOVEDIR);
      folder = parent;
    }
    ::close(folder);
  }

 private:
  std::string top_;
  std::string name_ = std::string(kNameLength, 'd');
  int depth_;
  bool made_ = false;
};

TEST_F(DeleteTreeFaultTest, TreeDeeperThanTheLongestPathEnds) {
  MakeOutsideAndTree();
  const std::string tree = temp_.Sub("tree");
  // Deep enough that the bottom lies beyond PATH_MAX.
  const int depth = PATH_MAX / static_cast<int>(DeepChain::kNameLength + 1) + 2;
  DeepChain chain(host::NativePath(tree + "\\sub"), depth);
  ASSERT_TRUE(chain.made());
  const Listing outside = fault_testing::Snapshot(temp_.Sub("outside"));

  host::DeleteTree(tree);

  // What lies within reach of a path goes; the chain below keeps the folders above it.
  EXPECT_FALSE(host::FileExists(tree + "\\a.txt"));
  EXPECT_FALSE(host::FileExists(tree + "\\sub\\b.txt"));
  EXPECT_EQ(fault_testing::Snapshot(temp_.Sub("outside")), outside);
  chain.Remove();
  host::DeleteTree(tree);
  EXPECT_FALSE(host::FolderExists(tree));
}

}  // namespace
