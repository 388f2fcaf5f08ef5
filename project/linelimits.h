#pragma once
// The sizes of a line between PC and host, in one place: the buffers, the
// longest payload and the upload pieces all derive from them.

#include <cstdint>

namespace Limits {

// A block on the wire holds fewer bytes than this: the conversation library
// refuses a block of this size or more (its WC_MAX_BLOCK).
constexpr int32_t kBlock = 32000;
// Every line starts with its item name, blank-padded to this width.
constexpr int32_t kPrefix = 10;
// The longest payload of one line: the largest block less its prefix.
constexpr int32_t kMaxPayload = kBlock - 1 - kPrefix;

} // namespace Limits
