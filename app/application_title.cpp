#include "app/application_title.h"

namespace app {

std::string ApplicationTitle(const std::string& program_path) {
  const size_t separator = program_path.find_last_of("\\/");
  std::string title =
      separator == std::string::npos ? program_path : program_path.substr(separator + 1);
  title = title.substr(0, title.find('.'));
  for (size_t i = 1; i < title.size(); ++i) {
    if (title[i] >= 'A' && title[i] <= 'Z') title[i] = static_cast<char>(title[i] - 'A' + 'a');
  }
  return title;
}

}  // namespace app
