// Any file opened as a data file, then presented as the text output and the event rows.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/snapshot.h"
#include "core/text_output.h"
#include "model/datafile.h"
#include "model/events.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vir05::MemoryAreas areas;
    static const std::string path = "/tmp/vir05-fuzz-" + std::to_string(getpid()) + ".vi5";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    if (vir05::LoadDataFile(path, areas) != vir05::OpenStage::None) return 0;
    const vir05::ImageSnapshot snapshot = vir05::TakeSnapshot(areas.DeviceImage());
    const vir05::TextOutputSource source{snapshot, areas.DeviceImage(), areas.ArchiveImage(),
                                         vir05::PanelTimeText(areas.DeviceImage())};
    static vir05::ArchiveOrder order;
    std::string text;
    vir05::AppendTextOutput(text, source, order);
    const auto rows = vir05::EventGridRows(areas.ArchiveImage(), vir05::EventStampFormat{});
    return rows.size() > 1025 ? 1 : 0;
}
