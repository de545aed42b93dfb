#include "model/datafile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "model/safe_file.h"

namespace vir05 {

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
}  // namespace

bool SaveDataFile(const std::string& name, const MemoryAreas& areas) {
    std::string error;
    return SaveDataFile(name, areas, error);
}

bool SaveDataFile(const std::string& name, const MemoryAreas& areas, std::string& error) {
    // The first block is the start of the contiguous area block: image, shadow and the first
    // 186 archive bytes; the second block is the whole archive.
    std::string bytes(reinterpret_cast<const char*>(areas.block.data()), kDataFileFirstBlock);
    bytes.append(reinterpret_cast<const char*>(areas.ArchiveImage()), kArchiveSize);
    return ReplaceFileWith(name, bytes, error);
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
    // A FIFO, a device or a directory is refused without waiting on it.
    std::string error;
    File f(OpenRegularForReading(name, error));
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
