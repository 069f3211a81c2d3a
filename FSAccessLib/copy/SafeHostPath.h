#pragma once
// Names on a card are hostile input. These map tree entries to host paths that
// always lie inside the destination folder.
#include "AAA_WideString.h"
#include "DirEntry.h"

namespace FSAccessLib {

// Longest component the host accepts, in UTF-8 bytes (Linux NAME_MAX).
constexpr size_t kMaxHostComponentBytes = 255;

// One card name as one host path component:
// - '/', '\', NUL, control characters (U+0000-001F, U+007F-009F) and unpaired
//   surrogates each become '_';
// - the result is cut to 255 UTF-8 bytes at a character boundary;
// - an empty result becomes "_"; "." and ".." get a '_' prefix ("_.", "_..").
AAA::WString SafeHostComponent(AAA::WStringView name);

// `destination` followed by one safe component per tree level below the root,
// joined with '/'. Built from the entries' own names through their parent
// pointers (the tree must be relinked); the root itself contributes nothing.
AAA::WString SafeHostPath(const AAA::WString& destination, const DirEntry& entry);

} // namespace FSAccessLib
