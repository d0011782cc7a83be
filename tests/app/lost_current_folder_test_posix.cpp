// POSIX lets a test remove the folder the process is working in, so the job's reading of the
// current folder fails there: an error that the job's body lets through.
#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "host/files.h"
#include "host/helpers.h"
#include "tests/app/job_fixture.h"
#include "tests/app/setup_child_protocol.h"

namespace app_test {
namespace {

class LostCurrentFolderTest : public JobTest {};

TEST_F(LostCurrentFolderTest, ErrorAroundTheSetupStartEndsTheThreadSilently) {
  const std::string folder_before = host::GetCurrentFolder();
  const std::string target = host::AddBackslash(*host::PlatformTempPath(256)) + "Quillon";
  LoadPackage(ManifestText("", ""), {FileEntry("P\\setup.ini", "[setup]")});
  ui_.HoldMessages(true);

  StartJob(archive::JobKind::kApplicationSetup);
  ASSERT_TRUE(ui_.WaitForCalls(UiCall::Kind::kMessage, 1));
  PlaceChildSetup(target);
  ASSERT_TRUE(host::CreateFolderWithParents(temp_.Sub("gone")));
  host::SetCurrentFolder(temp_.Sub("gone"));
  ASSERT_TRUE(host::RemoveFolder(temp_.Sub("gone")));
  ui_.HoldMessages(false);
  ui_.DismissMessage();
  ASSERT_TRUE(WaitForJobThread());
  host::SetCurrentFolder(folder_before);

  EXPECT_EQ(JobCalls(), (std::vector<UiCall>{Busy(true), Busy(false),
                                             Message(kUnpackedTo + target + kQuillonWillStart)}));
  EXPECT_FALSE(app::SetupProcess.has_value());
  EXPECT_FALSE(host::FileExists(target + "\\" + kStartedFile));
  EXPECT_EQ(TreeOf(target), (std::vector<std::string>{"Setup.exe", "setup.ini"}));
  EXPECT_EQ(CallbacksCalled(), 1);
  EXPECT_TRUE(CallbackWasLastActOnJobThread());
}

}  // namespace
}  // namespace app_test
