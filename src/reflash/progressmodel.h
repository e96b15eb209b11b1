#pragma once
// A progress bar counted in parts: a total and the parts complete so far.
#include <cstdint>

namespace tarvik {

class TProgressModel {
 public:
  std::int32_t Total() const { return total_; }
  std::int32_t PartsComplete() const { return parts_; }

  // A different total starts the count again; the same total keeps it.
  void SetTotal(std::int32_t total);
  // Clamped to 0 .. Total.
  void SetPartsComplete(std::int32_t parts);
  void AddParts(std::int32_t parts);

  // PartsComplete * 100 / Total rounded to the nearest whole number (halves
  // up); 0 while the total is 0.
  std::int32_t Percent() const;

 private:
  std::int32_t total_ = 0;
  std::int32_t parts_ = 0;
};

}  // namespace tarvik
