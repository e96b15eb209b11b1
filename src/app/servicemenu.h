#pragma once
// What the service menu's reflash takes from the HEX file viewer.
#include <functional>
#include <string>

#include "firmware/hexgrid.h"

namespace tarvik {

struct HexViewerChoice {
  // The viewer was closed with OK.
  bool Accepted = false;
  // The chosen file (Windows-1251); empty when none was chosen.
  std::string Path;
  HexGrid Grid;
};

// Shows the viewer modally and hands back what the user left in it.
using HexViewerRunner = std::function<HexViewerChoice()>;

}  // namespace tarvik
