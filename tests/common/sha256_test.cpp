// SHA-256 against the published test vectors, and split feeding that crosses
// block boundaries.
#include "common/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvik {
namespace {

struct DigestCase {
  const char* name;
  std::string input;
  const char* digest;
};

TEST(Sha256, PublishedVectors) {
  const DigestCase cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448 bits: the padding takes a second block",
       "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"896 bits",
       "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopq"
       "rstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"a million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"55 bytes: the length fits the same block", std::string(55, 'x'),
       "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
      {"all byte values",
       [] {
         std::string bytes;
         for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
         return bytes;
       }(),
       "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880"},
  };
  for (const DigestCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Sha256Hex(c.input), c.digest);
  }
}

TEST(Sha256, FedInPiecesGivesTheSameDigest) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 7);
  const std::string whole = Sha256Hex(data);
  for (const std::size_t piece : {1u, 3u, 63u, 64u, 65u, 200u}) {
    SCOPED_TRACE(piece);
    Sha256 hash;
    for (std::size_t at = 0; at < data.size(); at += piece)
      hash.Update(std::string_view(data).substr(at, piece));
    std::string text;
    for (const std::uint8_t byte : hash.Finish()) {
      static constexpr char kDigits[] = "0123456789abcdef";
      text += kDigits[byte >> 4];
      text += kDigits[byte & 0xF];
    }
    EXPECT_EQ(text, whole);
  }
}

}  // namespace
}  // namespace tarvik
