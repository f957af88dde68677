// The byte vector every layer passes around: a request, a reply, an image, a file.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
