#pragma once
// Choosing an entry of the connection dialog's port list. Port names are
// Windows-1251 text; the list is kept in byte order, so COM10 sorts before
// COM2.
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// The index of the first entry in which the pattern finds a match
// (case-sensitive, single-line); -1 when none does.
int SelectItemByPattern(const std::vector<std::string>& items, std::string_view pattern);

// Sorts port names in byte order, the order the port box keeps.
std::vector<std::string> SortPortNames(std::vector<std::string> names);

// The patterns that find the remembered port again in a fresh list, tried in
// order. The number in the text picks the port: "COM" + digits + "$" for a
// COM name or a bare number, so COM12 never falls on COM1 or COM112. A name
// with another letter prefix (ttyUSB1) keeps its prefix, so it does not fall
// on ttyACM1 or ttyUSB11. A bare number that names no COM port then takes any
// port ending in exactly that number.
std::vector<std::string> ReselectPatterns(std::string_view text);

// The entry a refresh of the port box selects for the box's current text:
// the remembered port when the list holds it, else entry 0; -1 for an empty
// list.
int ReselectPort(std::string_view text, const std::vector<std::string>& sortedPorts);

}  // namespace tarvik
