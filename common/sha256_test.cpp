#include "common/sha256.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kestrum {
namespace {

TEST(Sha256Test, MatchesKnownAnswers) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1 << 20, 'a'),
       "9bc1b2a288b26af7257a36277ae3816a7d4f16e89c1e7e77d0a5c48bad62b360"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(sha256_hex(c.input), c.digest);
  }
}

}  // namespace
}  // namespace kestrum
