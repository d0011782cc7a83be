#include "tools/setup-pack/cli/command_table.h"

namespace setup_pack {
namespace {

const char kCreateHelp[] = R"(usage: setup-pack create [--key K] DIR ARCHIVE

Packs the folder DIR into the raw archive file ARCHIVE.

  DIR        the package's files: a folder C and a folder S for a library package (with the
             manifest id.txt next to them), a folder P for an application setup
  ARCHIVE    the archive file to write (replaced when it exists)
  --key K    the archive key, decimal or 0x-hexadecimal (default 0x5EC7A11E); the installer
             that carries the archive must use the same key

Entries are named relative to DIR with backslashes (id.txt, C, C\lib, C\lib\x.dcu) and keep each
file's modification time (local time, 2-second steps, 1980 at the earliest) and read-only bit.
The same folder always gives the same bytes. Refused: names that ANSI (Windows-1252) text cannot
spell or Windows does not allow, names over 255 characters, destinations over 255 characters
below a typical target folder, files over 2 GiB, archives over 18,000,000 bytes.

example:
  setup-pack create components/ components.pak
)";

const char kEmbedHelp[] = R"(usage: setup-pack embed [--key K] [--job library|application] [--caption TEXT]
                        [--drop-signature] TEMPLATE ARCHIVE OUT

Makes the installer OUT: a copy of the installer program TEMPLATE carrying the raw archive
ARCHIVE (from "setup-pack create") and the caption TEXT. OUT stores the archive and nothing of
the package block's empty rest, and the archive's length and CRC-32, which the installer checks
before it runs.

  TEMPLATE   an installer program (Setup.exe) with one package block and one settings record
  ARCHIVE    a raw archive of at most 18,000,000 bytes
  OUT        the installer to write; written under a temporary name and renamed into place
  --key K    the key ARCHIVE was made with (default 0x5EC7A11E); stored for the installer
  --job J    library: install a component library into its IDE (needs id.txt); the
             installer asks for administrator rights
             application: unpack P into the temporary folder and run its Setup.exe; the
             installer runs as the user who starts it
             (default: the job TEMPLATE already has)
  --caption TEXT
             the window caption, at most 40 ANSI characters (default: TEMPLATE's caption)
  --drop-signature
             leave out TEMPLATE's Authenticode signature. A package changes the bytes the
             signature covers, so a signed TEMPLATE is refused without this switch; sign OUT
             once it is built (osslsigncode, signtool). OUT is then the installer that
             the unsigned TEMPLATE gives.

example:
  setup-pack embed --job library --caption "Vexilor Components 2.4" Setup.exe components.pak Vexilor-Setup.exe
)";

const char kBuildHelp[] = R"(usage: setup-pack build [--key K] [--job library|application] [--caption TEXT]
                        [--drop-signature] TEMPLATE DIR OUT

Packs the folder DIR and embeds it into a copy of TEMPLATE in one step: the same as create
followed by embed, without the archive file in between.

  TEMPLATE   an installer program (Setup.exe) with one package block and one settings record
  DIR        the package's files (see "setup-pack help create")
  OUT        the installer to write; written under a temporary name and renamed into place
  --key K    the archive key, decimal or 0x-hexadecimal (default 0x5EC7A11E)
  --job J    library or application (default: the job TEMPLATE already has)
  --caption TEXT
             the window caption, at most 40 ANSI characters (default: TEMPLATE's caption)
  --drop-signature
             leave out TEMPLATE's Authenticode signature (see "setup-pack help embed")

example:
  setup-pack build --job library --caption "Vexilor Components 2.4" Setup.exe components/ Vexilor-Setup.exe
)";

const char kListHelp[] = R"(usage: setup-pack list FILE

Lists the entries of FILE, a raw archive or a built installer, in stored order, one per line:

  name<TAB>size<TAB>0xATTRIBUTES<TAB>YYYY-MM-DD HH:MM:SS

Folders end in a backslash; the date-time is the stored local DOS date-time. A last line counts
the entries and their data bytes. A damaged archive is listed up to where its walk stopped, and
the error says at which entry index and byte offset (exit status 2).

example:
  setup-pack list Vexilor-Setup.exe
)";

const char kVerifyHelp[] = R"(usage: setup-pack verify [--key K] FILE

Checks FILE, a raw archive or a built installer, for what would trip the installer, prints each
problem on a line of its own and exits with 1 when there is any, else prints "OK" and exits
with 0. Checked:
  - the archive walks whole to its end: every header complete, no negative size before the end,
    no data running past the end;
  - every name is in a known part: C, S or P (first component) or the root file id.txt;
  - every component is a plain Windows name (not empty, not dots and blanks only, not ending in
    a dot or a blank, none of < > : " / \ | ? * or control characters, no device name such as
    NUL, COM0, COM1.txt or LPT3);
  - every file's folder was made by an earlier folder entry of its part or is the part folder;
  - no two files, and no file and folder, share a name as Windows compares names (without case);
  - the package holds entries, and a raw archive fits in an installer (18,000,000 bytes);
  - every destination fits in 255 characters below a typical target folder: a 60-character
    root, then the manifest's D value (or Vexilor) for C and S, or Quillon for P, then a
    backslash and the entry's path below its part folder;
  - the manifest id.txt: S is an upper-case D or C and a digit, D (when given) a relative path
    of plain folder names;
  - an installer: one package block, one settings record with a known job, a caption of at most
    40 characters, an archive that matches the length and CRC-32 stored with it (the check the
    installer makes before it runs), and a manifest that asks for the execution level the job
    needs (requireAdministrator for library, asInvoker for application). Among an installer's
    facts: whether it carries an Authenticode signature (the line Authenticode signature:
    present, with the signature's size, or absent), its archive check and its execution level.
  --key K    the archive key for reading the manifest (default: the installer's stored key, or
             0x5EC7A11E for a raw archive)

example:
  setup-pack verify Vexilor-Setup.exe
)";

const char kExtractHelp[] = R"(usage: setup-pack extract [--key K] [--prefix P] FILE DEST

Writes the entries of FILE, a raw archive or a built installer, below the folder DEST (made
when missing), with their stored dates and attributes, the way the installer writes them.

  FILE         a raw archive or an installer
  DEST         the folder to write into
  --prefix P   only the entries of part P (C, S or P), written as the installer's pass writes
               them: C\lib\x.dcu lands in DEST\lib\x.dcu (default: every entry, C\lib\x.dcu in
               DEST\C\lib\x.dcu)
  --key K      the archive key (default: the installer's stored key, or 0x5EC7A11E)

Refused before anything is written: entries whose names would leave DEST (a .. component, an
absolute path, a drive letter, an empty component, a Windows device name such as NUL or
COM1.txt, a component ending in a dot or a blank), entries Windows would write onto one another
(names equal without case, a file and a folder of one name), a file whose folder no entry makes,
an entry that would overwrite FILE itself, and a prefix no entry has. A link already in DEST where
an entry goes is replaced by a real folder or file, never followed. A failure while writing (a
full disk, a file that cannot be replaced) stops the extraction: the entries written before it
stay in DEST, and the message names the entry that failed.

example:
  setup-pack extract --prefix C Vexilor-Setup.exe unpacked/
)";

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {Command::kCreate, "create", "setup-pack create [--key K] DIR ARCHIVE", {"--key"}, 2,
       kCreateHelp},
      {Command::kEmbed, "embed",
       "setup-pack embed [--key K] [--job library|application] [--caption TEXT] "
       "[--drop-signature] TEMPLATE ARCHIVE OUT",
       {"--key", "--job", "--caption", "--drop-signature"}, 3, kEmbedHelp},
      {Command::kBuild, "build",
       "setup-pack build [--key K] [--job library|application] [--caption TEXT] "
       "[--drop-signature] TEMPLATE DIR OUT",
       {"--key", "--job", "--caption", "--drop-signature"}, 3, kBuildHelp},
      {Command::kList, "list", "setup-pack list FILE", {}, 1, kListHelp},
      {Command::kVerify, "verify", "setup-pack verify [--key K] FILE", {"--key"}, 1, kVerifyHelp},
      {Command::kExtract, "extract", "setup-pack extract [--key K] [--prefix P] FILE DEST",
       {"--key", "--prefix"}, 2, kExtractHelp},
  };
  return commands;
}

}  // namespace

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& spec : Commands()) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

const CommandSpec* FindCommand(Command command) {
  for (const CommandSpec& spec : Commands()) {
    if (command == spec.command) return &spec;
  }
  return nullptr;
}

std::string OverviewHelp() {
  std::string text =
      "setup-pack: makes installer packages, and lists, verifies and extracts them.\n\n";
  for (const CommandSpec& spec : Commands()) text += "  " + std::string(spec.usage) + "\n";
  text +=
      "  setup-pack help COMMAND\n"
      "  setup-pack --version\n\n"
      "FILE is a raw archive (from create) or a built installer (from embed or build). K is a\n"
      "decimal or 0x-hexadecimal unsigned 32-bit archive key. Exit status: 0 done, 1 verify\n"
      "found problems, 2 bad arguments, bad input or a failure. Refused arguments and input\n"
      "change nothing; outputs of create, embed and build appear whole or not at all; an extract\n"
      "that fails while writing leaves what it wrote before the failure, and says so.\n\n"
      "example:\n"
      "  setup-pack build --job library --caption \"Vexilor Components 2.4\" Setup.exe "
      "components/ Vexilor-Setup.exe\n"
      "  setup-pack verify Vexilor-Setup.exe\n";
  return text;
}

}  // namespace setup_pack
