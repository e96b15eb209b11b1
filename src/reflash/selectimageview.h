#pragma once
// What the reflash window shows once an image has been chosen for flashing.
// The firmware selection computes it; the window only applies it. Texts are
// Windows-1251.
#include <optional>
#include <string>

namespace tarvik {

struct SelectImageView {
  int SelectedImage = 0;
  // lbOldName: the device's version line; empty optional keeps the label's
  // text (no connection).
  std::optional<std::string> OldName;
  std::string NewName;              // lbNewName: the offered image's version text
  std::string Caption;              // window caption: the image's device-type name, often empty
  std::string CurrentVersionLabel;  // Label2

  bool operator==(const SelectImageView&) const = default;
};

}  // namespace tarvik
