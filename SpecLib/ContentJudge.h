#pragma once
// A deleted file's slot outlives its data: the clusters it names may since
// hold other files. Such a file is judged by the checks the sector scan finds
// files by; where its data fails them, it is another file's.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "DirEntry.h"

namespace Kalvory {

// A file name's extension in capitals, without the dot ("" when there is none).
AAA::WString UpperExtension(const AAA::WString& name);
// A file name without its extension (the whole name when there is none).
inline AAA::WString NameStem(const AAA::WString& name) { return name.substr(0, name.rfind(u'.')); }

enum class ContentCheck {
    None,            // no check for this kind of file: it passes
    Jpeg,            // the marker walk reaches the end-of-image marker at the file's length
    Stream,          // every source packet has its sync byte and follows the one before in time
    Riff,            // RIFF chunks and the chunks inside them add up to the length
    Bitmap,          // the BMP header states the length
    Management,      // the AVCHD management file's last section ends at the length
};

// The check for a file of this name, by its extension (any case).
ContentCheck CheckFor(const AAA::WString& name);

// Whether the card no longer holds the entry's clusters for it: deleted files
// and files of folders found after a format. Live files are what the card says.
bool JudgedByContent(const FSAccessLib::DirEntry& entry);

// The bytes from the file's start that its check vouches for: its length when
// the data passes (or has no check), else where the data stops matching.
// `buffer` is a read buffer reused between calls.
uint64_t MatchingBytes(AAA::Stream& volume, const FSAccessLib::DirEntry& entry, std::vector<uint8_t>& buffer);

} // namespace Kalvory
