// Package versions as the package tools order them, for telling whether a
// port's version lies in a range of a vulnerability entry.
#pragma once

#include <string_view>

// Compares two versions of the form PORTVERSION[_PORTREVISION][,PORTEPOCH]:
// the epoch decides first, then the version, then the revision. Less than
// 0, 0 or more than 0 as a is older than, the same as or newer than b. Any
// bytes are accepted, and the order is a total preorder: texts that are
// written differently may compare equal ("10" and "10.0").
[[nodiscard]] int compare_versions(std::string_view a, std::string_view b);

// Splits a package name as field 1 of the INDEX gives it ("name-version")
// at its last '-'. Without a '-' the whole text is the name and the
// version is empty.
void split_package(std::string_view package, std::string_view *name,
    std::string_view *version);
