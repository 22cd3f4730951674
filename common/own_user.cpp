#include "common/own_user.hpp"

namespace kestrum {

std::optional<std::string> read_own_file(const std::filesystem::path& path, std::size_t limit,
                                         Oversize oversize) {
  return read_regular_file_of(own_uid(), path, limit, oversize);
}

}  // namespace kestrum
