#pragma once
// Helpers that move recovered data from the card into the destination folder.
#include <cstdint>

#include "AAA_Digest.h"
#include "AAA_Stream.h"
#include "AAA_WideString.h"

namespace AAA {

// Size of the pieces copies move at a time.
constexpr uint32_t kCopyPieceSize = 0x80000;

// True when anything (file, folder, link) already occupies `path`.
bool PathExists(const WString& path);

// Copies `length` bytes at `offset` of `source` into a new file at `path`.
// An existing path is left alone. On any failure the partial file is removed.
void CopyExtentToNewFile(Stream& source, uint64_t offset, uint64_t length, const WString& path);

// Copies `length` bytes at `offset` of `source` to `destination`. A source that
// ends early raises UnexpectedEofException instead of looping.
void CopyExtent(Stream& source, uint64_t offset, uint64_t length, Stream& destination);
// The same, every piece shown to `digest` on its way (with a digest the
// bytes pass through memory; without one the kernel may copy them).
void CopyExtent(Stream& source, uint64_t offset, uint64_t length, Stream& destination, Digest* digest);

// Creates one folder level; an existing folder is fine, anything else there fails.
void MakeDirectoryIfMissing(const WString& path);

// Removes a file even when it is read-only; failures are ignored.
void DeleteFileForced(const WString& path);

} // namespace AAA
