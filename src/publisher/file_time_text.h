// File times as the publisher's tool prints them.
#pragma once

#include <string>

#include "platform/platform.h"

namespace publisher {

// `time` in UTC as ISO 8601 with all seven digits of its 100 ns steps,
// e.g. "2015-04-21T09:05:43.6702848Z". Every value has a text: years past
// 9999 get more digits.
std::string FileTimeText(platform::FileTime time);

}  // namespace publisher
