// A PE image made by hand for the image and signature tests: the headers of a 32-bit Windows
// program and three sections laid out as the linker lays out an installer program's: the
// settings record in ".data", the package block alone in ".package" and stored whole, and a
// section after them, whose data must move when the block's section is stored in part. By file
// offset:
//
//   0x000   DOS header: "MZ", e_lfanew (at 0x3C) = 0x40
//   0x040   "PE\0\0", COFF header (machine 0x14C, 3 sections, optional header 0xE0 bytes)
//   0x058   optional header, PE32: SizeOfInitializedData at 0x060, CheckSum at 0x098, 16
//           directory entries from 0x0B8; the security entry (the fifth) at 0x0D8
//   0x138   section headers ".data", ".package", ".rsrc" (40 bytes each)
//   0x200   ".data": the settings record, zeros to 0x400
//   0x400   ".package": the package block (memory size 18,000,056), zeros to the next 0x200
//   then    ".rsrc": kHandMadeManifest, then the letters a to z over and over to 0x200 bytes
//
// A certificate table, when added, follows the section data, 8-byte aligned, and the security
// entry holds its file offset and size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pack_testing {

constexpr size_t kPeChecksumOffset = 0x98;
constexpr size_t kPeSecurityEntryOffset = 0xD8;
constexpr size_t kPeInitializedDataOffset = 0x60;
constexpr size_t kPeSectionTableOffset = 0x138;
constexpr size_t kHandMadeSectionCount = 3;
constexpr size_t kHandMadeTailSize = 0x200;  // ".rsrc", the section after the package block
// The part of an installer's manifest that asks for an execution level, as the template has it.
constexpr char kHandMadeManifest[] =
    "<requestedPrivileges><requestedExecutionLevel level=\"requireAdministrator\" "
    "uiAccess=\"false\"/></requestedPrivileges>";

// An unsigned image carrying the checksum of its bytes, as a linker writes it.
std::vector<uint8_t> HandMadeInstallerImage();

// The image checksum of `bytes`, by the tool's own sum (whose rule its unit tests check against
// sums worked out by hand).
uint32_t ImageChecksum(const std::vector<uint8_t>& bytes);

// Appends a certificate table of `payload_size` bytes after the image (WIN_CERTIFICATE: length,
// revision 0x0200, type 0x0002, then the payload, padded to 8 bytes) and points the security
// entry at it, leaving the checksum field as it was. Returns the table's size.
uint32_t AppendCertificateTable(std::vector<uint8_t>& image, size_t payload_size);

uint32_t ReadLittleEndian32At(const std::vector<uint8_t>& bytes, size_t offset);
void WriteLittleEndian32At(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

}  // namespace pack_testing
