// Package paths as the publisher's tool prints them.
#pragma once

#include <string>

namespace publisher {

// `path` as stored, in UTF-8, each control character (which no packed name
// holds, but a damaged or hostile package may) shown as "?", so that every
// record stays on one line of a listing.
std::string PathText(const std::wstring& path);

}  // namespace publisher
