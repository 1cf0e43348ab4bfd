#include "platform/stdlines.h"

#include <string>

namespace platform {

void WriteLine(std::FILE* stream, std::string_view line) {
  if (stream == stderr)
    std::fflush(stdout);
  else if (stream == stdout)
    std::fflush(stderr);
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stream);
  if (stream == stderr) std::fflush(stderr);
}

}  // namespace platform
