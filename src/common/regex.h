#pragma once
// Regular-expression helpers over a small Perl-style dialect:
//   literals and escapes (\r \n \t \. \\ ...), '.', \d \D \w \W \s \S,
//   bracket classes with ranges and a leading '^' for negation,
//   quantifiers + * ? {n} {n,} {n,m} (greedy), anchors ^ and $.
// \w is exactly A-Z, a-z, 0-9 and '_', \d exactly 0-9, whatever the locale.
// ^ and $ match only at the ends of the text unless multiLine is set, then
// also after and before a line break. Groups and alternation are not part of
// the dialect: a pattern that uses them (or is otherwise malformed) matches
// nothing.
#include <string>
#include <string_view>

namespace tarvik {

// The first match of pattern in text, or empty text when there is none.
std::string RegexFirstMatch(std::string_view pattern, std::string_view text, bool caseInsensitive = false,
                            bool multiLine = false);

// The n-th successive non-overlapping match (n from 1), or empty text when
// there are fewer than n matches.
std::string RegexNthMatch(std::string_view text, std::string_view pattern, int n);

}  // namespace tarvik
