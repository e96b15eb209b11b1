#pragma once
// SHA-256 (FIPS 180-4), for the records a bench keeps of what it wrote: an
// auditor recomputes the digest of an image with any common tool. Written
// here because the Windows build has no library that offers it.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik {

class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  // The digest of everything given so far; the object is spent afterwards.
  std::array<std::uint8_t, 32> Finish();

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;
};

// The digest of the bytes as 64 lower-case hex digits, as sha256sum prints it.
std::string Sha256Hex(std::string_view bytes);

}  // namespace tarvik
