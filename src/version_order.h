// FreeBSD's order of package versions, as pkg-version(8) compares them.
//
// A version is VERSION[_REVISION][,EPOCH]. The epoch, after the last ",",
// decides first, then the version, then the revision, after the last "_";
// both are numbers, 0 when missing.
//
// The version is a run of blocks separated by "+", compared in order: the
// components after a "+" meet only those after the other version's "+", and
// a version that has reached its "+" (or its end) counts as 0 until the other
// reaches its own. So 1.0 < 1.0+1 < 1.0.1, 1.0+1 = 1.0+1.0, 2+1 < 2.1,
// 1.0+a < 1.0 and 1+1+1 < 1+2.
//
// A block is a run of components. Any byte other than a letter, a digit, "+"
// or "*" separates them, and separators in a row count as one; missing
// components are 0, so 1.2 = 1.2.0. A component is a number, a letter and a
// patch number, compared in that order:
//   - the number: "*" is the least (2.* < 2pl1), then a component that starts
//     with a letter (a < 0, 1.2.p1 < 1.2), then numbers by value;
//   - the letter: none sorts first (10 < 10a < 10b); a word counts by its
//     first letter without regard to case (1.d2 = 1.dev2 = 1.Development2),
//     but pl, alpha, beta, pre and rc sort as the letters before a, a, b, p
//     and r and always start a component of their own (10alpha = 10.a < 10,
//     1.0pl2 < 1.0+2);
//   - the patch number, the digits after the letter (1.2 < 1.2p1); a letter
//     after them starts the next component (10a1b2 = 10a1.b2).
// Numbers of any length compare by value.
#pragma once

#include <compare>
#include <string_view>

// How version a compares with version b. Different spellings of one version
// (1.2 and 1.2.0) are equivalent.
std::weak_ordering compare_versions(std::string_view a, std::string_view b);
