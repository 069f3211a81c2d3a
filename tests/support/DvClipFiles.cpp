// Where a written clip goes: into a card image, and the files a recovery of it saves.
#include "DvClipWriter.h"

#include <fstream>
#include <stdexcept>

namespace TestSupport {

void PutDvClip(const std::filesystem::path& image, uint64_t base, const DvClipLayout& layout) {
    std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
    if (!out)
        throw std::runtime_error("cannot open " + image.string());
    for (const auto& [offset, bytes] : layout.pieces) {
        out.seekp(static_cast<std::streamoff>(base + offset));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!out)
        throw std::runtime_error("cannot write " + image.string());
}

std::map<std::string, std::string> DvClipSavedFiles(const DvClipLayout& clip, const std::string& base) {
    const std::string folder = "PRIVATE/QORVALIN/SBGDVSD/";
    const auto held = [](const std::string& pcm) {
        std::string tail;
        for (int i = 0; i < 4; ++i)
            tail += pcm.substr(pcm.size() - 2);
        return pcm + tail;
    };
    return {{folder + "VIDEO/" + base + ".AVI", clip.aviFile},
            {folder + "ETC/AUDIO/" + base + "0.PCM", held(clip.pcm0File)},
            {folder + "ETC/AUDIO/" + base + "1.PCM", held(clip.pcm1File)},
            {folder + "ETC/ICON/" + base + ".BMP", clip.iconFile},
            {folder + "ETC/CLIP/" + base + ".XML", clip.xmlFile}};
}

} // namespace TestSupport
