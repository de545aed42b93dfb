#include "model/datafile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace vir05 {

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
}  // namespace

bool SaveDataFile(const std::string& name, const MemoryAreas& areas) {
    if (name.empty()) return false;
    const std::string temp = name + ".part";
    {
        File f(std::fopen(temp.c_str(), "wb"));
        if (!f) return false;
        // The first block is the start of the contiguous area block: image, shadow and the first
        // 186 archive bytes; the second block is the whole archive.
        const bool written =
            std::fwrite(areas.block.data(), 1, kDataFileFirstBlock, f.get()) ==
                kDataFileFirstBlock &&
            std::fwrite(areas.ArchiveImage(), 1, kArchiveSize, f.get()) == kArchiveSize &&
            std::fflush(f.get()) == 0;
        std::FILE* raw = f.release();
        if (std::fclose(raw) != 0 || !written) {
            std::remove(temp.c_str());
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, name, ec);
    if (ec) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

const char* OpenStageText(OpenStage stage) {
    switch (stage) {
        case OpenStage::Open:
            return "открытия файла ";
        case OpenStage::Size:
            return "определения размера файла ";
        case OpenStage::ReadImage:
            return "чтения файла текущих";
        case OpenStage::ReadArchive:
            return "чтения файла статистики";
        case OpenStage::Decode:
            return "декодирования данных ";
        case OpenStage::None:
            break;
    }
    return "";
}

std::string StripShellQuotes(std::string name) {
    if (!name.empty() && name.front() == '"') {
        name.erase(0, 1);
        const auto q = name.find('"');
        if (q != std::string::npos) name.erase(q, 1);
    }
    return name;
}

OpenStage LoadDataFile(const std::string& name, MemoryAreas& areas) {
    std::error_code ec;
    if (std::filesystem::is_directory(name, ec)) return OpenStage::Open;
    File f(std::fopen(name.c_str(), "rb"));
    if (!f) return OpenStage::Open;
    if (std::fseek(f.get(), 0, SEEK_END) != 0 || std::ftell(f.get()) < 0 ||
        std::fseek(f.get(), 0, SEEK_SET) != 0)
        return OpenStage::Size;

    // Read the first block aside and take only the image from it; bytes past a short file keep
    // the image's previous contents.
    std::uint8_t first[kDataFileFirstBlock];
    const std::size_t got = std::fread(first, 1, sizeof first, f.get());
    if (std::ferror(f.get())) return OpenStage::ReadImage;
    std::memcpy(areas.DeviceImage(), first, std::min(got, kImageSize));
    std::memcpy(areas.ConfigShadow(), areas.DeviceImage(), kImageSize);

    std::memset(areas.ArchiveImage(), 0, kArchiveSize);
    if (got == kDataFileFirstBlock) {
        std::fread(areas.ArchiveImage(), 1, kArchiveSize, f.get());
        if (std::ferror(f.get())) return OpenStage::ReadArchive;
    }
    return OpenStage::None;
}

}  // namespace vir05
