#include "tools/setup-pack/image/execution_level.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "tools/setup-pack/cli/tool_error.h"

namespace setup_pack {
namespace {

constexpr char kElement[] = "<requestedExecutionLevel";
constexpr char kAttribute[] = "level=\"";

std::optional<size_t> Search(const uint8_t* from, const uint8_t* to, const uint8_t* base) {
  const std::boyer_moore_horspool_searcher element(kElement, kElement + sizeof kElement - 1);
  const uint8_t* const at = std::search(from, to, element);
  if (at == to) return std::nullopt;
  return static_cast<size_t>(at - base);
}

}  // namespace

std::optional<ExecutionLevelField> FindExecutionLevel(const uint8_t* data, size_t size,
                                                      size_t skip_from, size_t skip_to) {
  std::optional<size_t> element = Search(data, data + std::min(skip_from, size), data);
  if (!element && skip_to < size) element = Search(data + skip_to, data + size, data);
  if (!element) return std::nullopt;
  // The attribute within the element, which ends at its "/>" or ">".
  const uint8_t* const begin = data + *element;
  const uint8_t* const end = std::find(begin, data + size, '>');
  const uint8_t* const attribute =
      std::search(begin, end, kAttribute, kAttribute + sizeof kAttribute - 1);
  if (attribute == end) return std::nullopt;
  const uint8_t* const value = attribute + sizeof kAttribute - 1;
  const uint8_t* const quote = std::find(value, end, '"');
  if (quote == end) return std::nullopt;
  const uint8_t* field_end = quote + 1;
  while (field_end < end && *field_end == ' ') ++field_end;
  ExecutionLevelField field;
  field.offset = static_cast<size_t>(attribute - data);
  field.size = static_cast<size_t>(field_end - attribute);
  field.level.assign(value, quote);
  return field;
}

const char* ExecutionLevelFor(archive::JobKind job) {
  return job == archive::JobKind::kApplicationSetup ? "asInvoker" : "requireAdministrator";
}

std::vector<uint8_t> ExecutionLevelBytes(const std::string& level, size_t field_size) {
  const std::string text = std::string(kAttribute) + level + "\"";
  if (text.size() > field_size) {
    throw ToolError("the template's manifest has no room for the execution level " + level);
  }
  std::vector<uint8_t> bytes(field_size, ' ');
  std::memcpy(bytes.data(), text.data(), text.size());
  return bytes;
}

}  // namespace setup_pack
