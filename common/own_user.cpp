#include "common/own_user.hpp"

#include <sys/stat.h>

#include <algorithm>

namespace kestrum {

std::optional<std::string> read_own_file(const std::filesystem::path& path, std::size_t limit,
                                         Oversize oversize) {
  const UniqueFd fd = open_regular_for_reading(path);
  struct stat st{};
  if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_uid != own_uid()) return std::nullopt;
  std::string data;
  // One byte past the limit tells a file that fits from one that does not.
  data.reserve(std::min(static_cast<std::size_t>(st.st_size), limit) + 1);
  if (!read_up_to(fd.get(), limit + 1, data)) return std::nullopt;
  if (data.size() > limit) {
    if (oversize == Oversize::Refuse) return std::nullopt;
    data.resize(limit);
  }
  return data;
}

}  // namespace kestrum
