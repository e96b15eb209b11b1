#include "common/regex.h"

#include <bitset>
#include <cstddef>
#include <optional>
#include <vector>

namespace tarvik {
namespace {

struct Atom {
  enum class Kind { Set, LineStart, LineEnd } kind = Kind::Set;
  std::bitset<256> set;
  std::size_t min = 1;
  std::size_t max = 1;
};

constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

void AddRange(std::bitset<256>& set, unsigned char lo, unsigned char hi) {
  for (unsigned c = lo; c <= hi; ++c) set.set(c);
}

std::bitset<256> WordSet() {
  std::bitset<256> s;
  AddRange(s, 'A', 'Z');
  AddRange(s, 'a', 'z');
  AddRange(s, '0', '9');
  s.set('_');
  return s;
}

std::bitset<256> DigitSet() {
  std::bitset<256> s;
  AddRange(s, '0', '9');
  return s;
}

std::bitset<256> SpaceSet() {
  std::bitset<256> s;
  for (char c : {' ', '\t', '\n', '\r', '\f', '\v'}) s.set(static_cast<unsigned char>(c));
  return s;
}

// An escape after the backslash: either a class (\d \w \s and negations) or
// one literal byte.
std::bitset<256> EscapeSet(char e) {
  switch (e) {
    case 'd':
      return DigitSet();
    case 'D':
      return ~DigitSet();
    case 'w':
      return WordSet();
    case 'W':
      return ~WordSet();
    case 's':
      return SpaceSet();
    case 'S':
      return ~SpaceSet();
    default:
      break;
  }
  char lit = e;
  switch (e) {
    case 'r':
      lit = '\r';
      break;
    case 'n':
      lit = '\n';
      break;
    case 't':
      lit = '\t';
      break;
    case 'f':
      lit = '\f';
      break;
    case 'v':
      lit = '\v';
      break;
    case 'e':
      lit = '\x1B';
      break;
    default:
      break;
  }
  std::bitset<256> s;
  s.set(static_cast<unsigned char>(lit));
  return s;
}

bool IsSingleByte(const std::bitset<256>& s, unsigned char& byte) {
  if (s.count() != 1) return false;
  for (unsigned c = 0; c < 256; ++c) {
    if (s.test(c)) {
      byte = static_cast<unsigned char>(c);
      return true;
    }
  }
  return false;
}

void FoldCase(std::bitset<256>& s) {
  for (unsigned c = 'a'; c <= 'z'; ++c) {
    const unsigned upper = c - 'a' + 'A';
    if (s.test(c) || s.test(upper)) {
      s.set(c);
      s.set(upper);
    }
  }
}

std::optional<std::size_t> ReadNumber(std::string_view p, std::size_t& i) {
  std::size_t start = i;
  std::size_t value = 0;
  while (i < p.size() && p[i] >= '0' && p[i] <= '9') {
    value = value * 10 + static_cast<std::size_t>(p[i] - '0');
    if (value > 100000) return std::nullopt;
    ++i;
  }
  if (i == start) return std::nullopt;
  return value;
}

std::optional<std::vector<Atom>> Compile(std::string_view p, bool caseInsensitive) {
  std::vector<Atom> atoms;
  std::size_t i = 0;
  while (i < p.size()) {
    Atom atom;
    const char c = p[i];
    if (c == '^') {
      atom.kind = Atom::Kind::LineStart;
      atoms.push_back(atom);
      ++i;
      continue;
    }
    if (c == '$') {
      atom.kind = Atom::Kind::LineEnd;
      atoms.push_back(atom);
      ++i;
      continue;
    }
    if (c == '(' || c == ')' || c == '|' || c == '+' || c == '*' || c == '?' || c == '{') return std::nullopt;
    if (c == '\\') {
      if (i + 1 >= p.size()) return std::nullopt;
      atom.set = EscapeSet(p[i + 1]);
      i += 2;
    } else if (c == '.') {
      atom.set.set();
      atom.set.reset('\n');
      ++i;
    } else if (c == '[') {
      ++i;
      bool negate = false;
      if (i < p.size() && p[i] == '^') {
        negate = true;
        ++i;
      }
      bool first = true;
      bool closed = false;
      while (i < p.size()) {
        if (p[i] == ']' && !first) {
          closed = true;
          ++i;
          break;
        }
        first = false;
        std::bitset<256> item;
        if (p[i] == '\\') {
          if (i + 1 >= p.size()) return std::nullopt;
          item = EscapeSet(p[i + 1]);
          i += 2;
        } else {
          item.set(static_cast<unsigned char>(p[i]));
          ++i;
        }
        unsigned char lo = 0;
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']' && IsSingleByte(item, lo)) {
          std::bitset<256> hiSet;
          if (p[i + 1] == '\\') {
            if (i + 2 >= p.size()) return std::nullopt;
            hiSet = EscapeSet(p[i + 2]);
            i += 3;
          } else {
            hiSet.set(static_cast<unsigned char>(p[i + 1]));
            i += 2;
          }
          unsigned char hi = 0;
          if (!IsSingleByte(hiSet, hi) || hi < lo) return std::nullopt;
          AddRange(item, lo, hi);
        }
        atom.set |= item;
      }
      if (!closed) return std::nullopt;
      if (caseInsensitive) FoldCase(atom.set);
      if (negate) atom.set = ~atom.set;
    } else {
      atom.set.set(static_cast<unsigned char>(c));
      ++i;
    }
    if (caseInsensitive) FoldCase(atom.set);
    // Quantifier.
    if (i < p.size()) {
      if (p[i] == '+') {
        atom.min = 1;
        atom.max = kUnbounded;
        ++i;
      } else if (p[i] == '*') {
        atom.min = 0;
        atom.max = kUnbounded;
        ++i;
      } else if (p[i] == '?') {
        atom.min = 0;
        atom.max = 1;
        ++i;
      } else if (p[i] == '{') {
        ++i;
        auto lo = ReadNumber(p, i);
        if (!lo) return std::nullopt;
        atom.min = *lo;
        atom.max = *lo;
        if (i < p.size() && p[i] == ',') {
          ++i;
          if (i < p.size() && p[i] == '}') {
            atom.max = kUnbounded;
          } else {
            auto hi = ReadNumber(p, i);
            if (!hi || *hi < *lo) return std::nullopt;
            atom.max = *hi;
          }
        }
        if (i >= p.size() || p[i] != '}') return std::nullopt;
        ++i;
      }
      if (i < p.size() && (p[i] == '+' || p[i] == '*' || p[i] == '?' || p[i] == '{')) return std::nullopt;
    }
    atoms.push_back(atom);
  }
  return atoms;
}

class Matcher {
 public:
  Matcher(const std::vector<Atom>& atoms, std::string_view text, bool multiLine)
      : atoms_(atoms), text_(text), multiLine_(multiLine) {}

  // End of the match of atoms[k..] starting at pos, or npos.
  std::size_t Match(std::size_t k, std::size_t pos) const {
    if (k == atoms_.size()) return pos;
    const Atom& a = atoms_[k];
    if (a.kind == Atom::Kind::LineStart) {
      const bool at = pos == 0 || (multiLine_ && (text_[pos - 1] == '\n' || text_[pos - 1] == '\r'));
      return at ? Match(k + 1, pos) : std::string_view::npos;
    }
    if (a.kind == Atom::Kind::LineEnd) {
      const bool at = pos == text_.size() || (multiLine_ && (text_[pos] == '\n' || text_[pos] == '\r'));
      return at ? Match(k + 1, pos) : std::string_view::npos;
    }
    std::size_t count = 0;
    while (count < a.max && pos + count < text_.size() &&
           a.set.test(static_cast<unsigned char>(text_[pos + count]))) {
      ++count;
    }
    if (count < a.min) return std::string_view::npos;
    // Greedy: longest run first, then give back one byte at a time.
    for (std::size_t n = count + 1; n-- > a.min;) {
      const std::size_t end = Match(k + 1, pos + n);
      if (end != std::string_view::npos) return end;
    }
    return std::string_view::npos;
  }

 private:
  const std::vector<Atom>& atoms_;
  std::string_view text_;
  bool multiLine_;
};

struct Found {
  std::size_t begin;
  std::size_t end;
};

std::optional<Found> Search(const std::vector<Atom>& atoms, std::string_view text, std::size_t from,
                            bool multiLine) {
  Matcher m(atoms, text, multiLine);
  for (std::size_t start = from; start <= text.size(); ++start) {
    const std::size_t end = m.Match(0, start);
    if (end != std::string_view::npos) return Found{start, end};
  }
  return std::nullopt;
}

}  // namespace

std::string RegexFirstMatch(std::string_view pattern, std::string_view text, bool caseInsensitive,
                            bool multiLine) {
  const auto atoms = Compile(pattern, caseInsensitive);
  if (!atoms) return {};
  const auto found = Search(*atoms, text, 0, multiLine);
  if (!found) return {};
  return std::string(text.substr(found->begin, found->end - found->begin));
}

std::string RegexNthMatch(std::string_view text, std::string_view pattern, int n) {
  if (n < 1) return {};
  const auto atoms = Compile(pattern, false);
  if (!atoms) return {};
  std::size_t from = 0;
  for (int i = 1; from <= text.size(); ++i) {
    const auto found = Search(*atoms, text, from, false);
    if (!found) return {};
    if (i == n) return std::string(text.substr(found->begin, found->end - found->begin));
    // An empty match must still move on, or the search would stand still.
    from = found->end > found->begin ? found->end : found->end + 1;
  }
  return {};
}

}  // namespace tarvik
