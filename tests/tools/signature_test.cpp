// setup-pack and Authenticode: verify shows whether an installer image is signed; embed and build
// refuse a signed installer program as their template, since the package would break its
// signature, unless told to drop the signature, which gives exactly the unsigned build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"
#include "tests/tools/pe_image.h"

namespace pack_testing {
namespace {

std::vector<ModelEntry> SignedTree() {
  ModelEntry c;
  c.name = "C";
  c.is_folder = true;
  ModelEntry unit;
  unit.name = "C\\unit.pas";
  unit.data = "unit Signed; end.";
  unit.modified = DosTime(2011, 2, 3, 4, 5, 6);
  ModelEntry manifest;
  manifest.name = "id.txt";
  manifest.data = "S IDE:         D7\r\nD Folder:      Signed Widgets\r\n";
  manifest.modified = DosTime(2011, 2, 3, 4, 5, 8);
  return {c, unit, manifest};
}

class SignatureTest : public PackToolTest {
 protected:
  void SetUp() override {
    WriteBytes(Path("template.exe"), HandMadeInstallerImage());
    WriteTree(temp_.Sub("tree"), SignedTree());
    const ProgramResult create = Pack({"create", Path("tree"), Path("package.pak")});
    ASSERT_EQ(create.exit_code, 0) << create.err;
  }

  // A copy of the template with a certificate table of `payload` bytes; its table's size.
  uint32_t MakeSignedTemplate(const std::string& name, size_t payload) {
    std::vector<uint8_t> image = HandMadeInstallerImage();
    const uint32_t size = AppendCertificateTable(image, payload);
    WriteBytes(Path(name), image);
    return size;
  }

  // embed or build of the small package into OUT, with `options` before the operands.
  ProgramResult Make(const std::string& command, const std::vector<std::string>& options,
                     const std::string& template_name, const std::string& out_name) {
    std::vector<std::string> arguments = {command, "--job", "library", "--caption", "Signed"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(Path(template_name));
    arguments.push_back(command == "embed" ? Path("package.pak") : Path("tree"));
    arguments.push_back(Path(out_name));
    return Pack(arguments);
  }
};

TEST_F(SignatureTest, VerifyShowsWhetherAnImageIsSigned) {
  const uint32_t table = MakeSignedTemplate("signed.exe", 1000);
  struct Case {
    const char* name;
    std::string file;
    std::string line;  // empty: no signature line at all
  };
  const Case cases[] = {
      {"unsigned installer program", "template.exe", "Authenticode signature: absent"},
      {"signed installer program", "signed.exe",
       "Authenticode signature: present (" + std::to_string(table) + " bytes)"},
      {"raw archive", "package.pak", ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const ProgramResult verify = Pack({"verify", Path(row.file)});
    const std::vector<std::string> lines = Lines(verify.out);
    if (row.line.empty()) {
      for (const std::string& line : lines) EXPECT_EQ(line.find("Authenticode"), std::string::npos);
    } else {
      EXPECT_NE(std::find(lines.begin(), lines.end(), row.line), lines.end()) << verify.out;
    }
  }
}

TEST_F(SignatureTest, EmbedAndBuildRefuseASignedTemplate) {
  MakeSignedTemplate("signed.exe", 1000);
  for (const char* command : {"embed", "build"}) {
    SCOPED_TRACE(command);
    const ProgramResult made = Make(command, {}, "signed.exe", "out.exe");
    EXPECT_EQ(made.exit_code, 2);
    EXPECT_NE(made.err.find("Authenticode signature"), std::string::npos) << made.err;
    EXPECT_NE(made.err.find("--drop-signature"), std::string::npos) << made.err;
    // Nothing was written: neither OUT nor a temporary file beside it.
    for (const std::string& name : FolderNames(temp_.path())) {
      EXPECT_EQ(name.rfind("out.exe", 0), std::string::npos) << name;
    }
  }
}

TEST_F(SignatureTest, DroppingTheSignatureGivesTheUnsignedBuild) {
  MakeSignedTemplate("signed.exe", 1000);
  for (const char* command : {"embed", "build"}) {
    SCOPED_TRACE(command);
    const ProgramResult plain = Make(command, {}, "template.exe", "plain.exe");
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const std::vector<uint8_t> expected = ReadBytes(Path("plain.exe"));

    struct Case {
      const char* name;
      const char* template_name;
    };
    for (const Case& row : {Case{"signed template", "signed.exe"},
                            Case{"unsigned template", "template.exe"}}) {
      SCOPED_TRACE(row.name);
      const ProgramResult dropped =
          Make(command, {"--drop-signature"}, row.template_name, "dropped.exe");
      ASSERT_EQ(dropped.exit_code, 0) << dropped.err;
      EXPECT_TRUE(ReadBytes(Path("dropped.exe")) == expected);
      const ProgramResult verify = Pack({"verify", Path("dropped.exe")});
      const std::vector<std::string> lines = Lines(verify.out);
      EXPECT_NE(std::find(lines.begin(), lines.end(), "Authenticode signature: absent"),
                lines.end())
          << verify.out;
    }
  }
}

TEST_F(SignatureTest, ATableThatCannotBeCutOffIsRefused) {
  struct Case {
    const char* name;
    uint32_t table_offset_from_end;  // the table's offset, counted back from the file's end
    uint32_t table_size;
    std::string error;
  };
  const Case cases[] = {
      {"table in the middle of the image", 4096, 1024, "not at the end of the image"},
      {"table beyond the end of the file", 8, 1024, "lies outside the file"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> image = HandMadeInstallerImage();
    WriteLittleEndian32At(image, kPeSecurityEntryOffset,
                          static_cast<uint32_t>(image.size()) - row.table_offset_from_end);
    WriteLittleEndian32At(image, kPeSecurityEntryOffset + 4, row.table_size);
    WriteBytes(Path("odd.exe"), image);
    const ProgramResult made = Make("embed", {"--drop-signature"}, "odd.exe", "out.exe");
    EXPECT_EQ(made.exit_code, 2);
    EXPECT_NE(made.err.find(row.error), std::string::npos) << made.err;
    EXPECT_EQ(ReadBytes(Path("out.exe")).size(), 0u) << "an output was written";
    // A table outside the file is a broken image, which verify reports. (The hand-made image's
    // package is empty, which verify reports for both.)
    const ProgramResult verify = Pack({"verify", Path("odd.exe")});
    const bool outside = row.error == "lies outside the file";
    EXPECT_EQ(verify.exit_code, 1) << verify.out;
    const std::vector<std::string> lines = Lines(verify.out);
    const auto problems = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("problem: ", 0) == 0;
    });
    EXPECT_EQ(problems, outside ? 2 : 1) << verify.out;
    EXPECT_NE(verify.out.find("problem: the package holds no entries"), std::string::npos);
    EXPECT_EQ(verify.out.find("lies outside the file") != std::string::npos, outside) << verify.out;
  }
}

TEST_F(SignatureTest, DropSignatureIsASwitchOfEmbedAndBuildOnly) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string error;
  };
  const Case cases[] = {
      {"given a value", {"embed", "--drop-signature=yes", "a", "b", "c"},
       "--drop-signature takes no value"},
      {"given twice", {"build", "--drop-signature", "--drop-signature", "a", "b", "c"},
       "--drop-signature is given twice"},
      {"for verify", {"verify", "--drop-signature", "a"},
       "verify has no option \"--drop-signature\""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const ProgramResult run = Pack(row.arguments);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find(row.error), std::string::npos) << run.err;
  }
  const ProgramResult help = Pack({"help", "build"});
  EXPECT_NE(help.out.find("--drop-signature"), std::string::npos) << help.out;
}

// The host's own signing tool, where it runs natively.
std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(start, end - start) + "/" + program;
    std::error_code ignored;
    if (end > start && std::filesystem::is_regular_file(candidate, ignored)) return candidate;
    start = end + 1;
  }
  return {};
}

TEST_F(SignatureTest, OsslsigncodeSignsABuiltInstallerThatTheToolStillReads) {
  const std::string osslsigncode = IsPosix() ? FindOnPath("osslsigncode") : std::string();
  const std::string openssl = IsPosix() ? FindOnPath("openssl") : std::string();
  if (osslsigncode.empty() || openssl.empty()) {
    GTEST_SKIP() << "needs osslsigncode and openssl run natively";
  }
  const ProgramResult certificate =
      RunProgram(openssl,
                 {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                  "/CN=Setup test signer", "-keyout", Path("key.pem"), "-out", Path("cert.pem")},
                 temp_.path());
  ASSERT_EQ(certificate.exit_code, 0) << certificate.err;
  const auto sign = [&](const std::string& in, const std::string& out) {
    const ProgramResult signing =
        RunProgram(osslsigncode,
                   {"sign", "-certs", Path("cert.pem"), "-key", Path("key.pem"), "-n", "Setup",
                    "-in", Path(in), "-out", Path(out)},
                   temp_.path());
    EXPECT_EQ(signing.exit_code, 0) << signing.out << signing.err;
  };

  const ProgramResult built = Make("build", {}, "template.exe", "built.exe");
  ASSERT_EQ(built.exit_code, 0) << built.err;
  sign("built.exe", "built-signed.exe");
  const std::vector<uint8_t> signed_image = ReadBytes(Path("built-signed.exe"));
  const uint32_t table = ReadLittleEndian32At(signed_image, kPeSecurityEntryOffset + 4);
  ASSERT_GT(table, 0u);

  // The signing tool verifies what it signed: the headers of the compact image describe its file.
  const ProgramResult verified =
      RunProgram(osslsigncode, {"verify", "-CAfile", Path("cert.pem"), "-in", Path("built-signed.exe")},
                 temp_.path());
  EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;

  // The signed installer is read as before.
  const ProgramResult verify = Pack({"verify", Path("built-signed.exe")});
  EXPECT_EQ(verify.exit_code, 0) << verify.out << verify.err;
  const std::vector<std::string> lines = Lines(verify.out);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Authenticode signature: present (" + std::to_string(table) + " bytes)"),
            lines.end())
      << verify.out;
  EXPECT_EQ(Pack({"list", Path("built-signed.exe")}).out, Pack({"list", Path("built.exe")}).out);

  // The signing tool takes its signature off again: the bytes the tool built, with the checksum
  // of what they became, which is the checksum the tool gives a dropped signature.
  const ProgramResult removed = RunProgram(
      osslsigncode,
      {"remove-signature", "-in", Path("built-signed.exe"), "-out", Path("built-unsigned.exe")},
      temp_.path());
  ASSERT_EQ(removed.exit_code, 0) << removed.out << removed.err;
  std::vector<uint8_t> unsigned_again = ReadBytes(Path("built-unsigned.exe"));
  std::vector<uint8_t> built_bytes = ReadBytes(Path("built.exe"));
  ASSERT_EQ(unsigned_again.size(), built_bytes.size());
  EXPECT_EQ(ReadLittleEndian32At(unsigned_again, kPeChecksumOffset), ImageChecksum(built_bytes));
  WriteLittleEndian32At(unsigned_again, kPeChecksumOffset, 0);
  WriteLittleEndian32At(built_bytes, kPeChecksumOffset, 0);
  EXPECT_TRUE(unsigned_again == built_bytes);
  const ProgramResult rebuilt =
      Make("build", {"--drop-signature"}, "built-signed.exe", "rebuilt.exe");
  ASSERT_EQ(rebuilt.exit_code, 0) << rebuilt.err;
  EXPECT_TRUE(ReadBytes(Path("rebuilt.exe")) == ReadBytes(Path("built-unsigned.exe")));

  // A template signed by the signing tool is refused, and dropped to the plain build.
  sign("template.exe", "template-signed.exe");
  EXPECT_EQ(Make("build", {}, "template-signed.exe", "refused.exe").exit_code, 2);
  const ProgramResult dropped =
      Make("build", {"--drop-signature"}, "template-signed.exe", "dropped.exe");
  ASSERT_EQ(dropped.exit_code, 0) << dropped.err;
  EXPECT_TRUE(ReadBytes(Path("dropped.exe")) == ReadBytes(Path("built.exe")));
}

}  // namespace
}  // namespace pack_testing
