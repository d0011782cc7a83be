// Stores a freshly linked installer program compact: the linker writes the package block's
// section whole, 18 MB of which are the zeros of the empty archive area; the template keeps only
// the block's head in the file, as every installer that setup-pack builds from it does. Runs on
// the build machine, after the link.
//
// usage: compact-template IMAGE   (rewritten in place; exit status 0 on success)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/block_location.h"
#include "tools/setup-pack/image/image_composer.h"
#include "tools/setup-pack/image/pe_layout.h"

namespace {

std::vector<uint8_t> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw setup_pack::ToolError("cannot open " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> Compact(const std::vector<uint8_t>& bytes) {
  using namespace setup_pack;
  const std::optional<PeLayout> pe =
      ReadPeLayout(bytes.data(), std::min(bytes.size(), kPeHeadBytes));
  if (!pe) throw ToolError("not a PE image");
  const std::optional<BlockLocation> block = FindPackageBlock(bytes.data(), bytes.size(), &*pe);
  if (!block || !block->at_section_end) {
    throw ToolError("no package block at the end of a section of its own");
  }
  ImageTemplate image{bytes.data(), bytes.size(), *block, pe};
  std::vector<uint8_t> compact;
  ComposeInstaller(image, {}, bytes.data() + block->offset, nullptr, 0,
                   [&compact](const uint8_t* data, size_t size) {
                     compact.insert(compact.end(), data, data + size);
                   });
  return compact;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: compact-template IMAGE\n";
    return 2;
  }
  const std::string path = argv[1];
  try {
    const std::vector<uint8_t> compact = Compact(ReadWhole(path));
    const std::string temporary = path + ".compact";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(compact.data()),
                static_cast<std::streamsize>(compact.size()));
      if (!out.flush()) throw setup_pack::ToolError("cannot write " + temporary);
    }
    // The linked program's permission bits (executable where the build machine has them).
    std::error_code ignored;
    std::filesystem::permissions(temporary, std::filesystem::status(path).permissions(),
                                 ignored);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
      throw setup_pack::ToolError("cannot replace " + path);
    }
  } catch (const setup_pack::ToolError& error) {
    std::cerr << "compact-template: " << path << ": " << error.what() << '\n';
    return 1;
  }
  return 0;
}
