// Any file opened as a data file, then presented as the text output, the event rows and the
// window's controls of both circuits; the controls collected back unchanged leave every byte of
// the configuration area as it was, so a configuration write would send nothing.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/present/present.h"
#include "core/present/untouched.h"
#include "core/snapshot.h"
#include "core/text_output.h"
#include "model/datafile.h"
#include "model/events.h"

namespace {

[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "datafile_fuzz: invariant broken: %s\n", what);
    std::abort();
}

// Every numeric field the pass sets shows a number inside its range.
void CheckSpinValues(const vir05::ControlState& controls) {
    for (const auto& [name, value] : controls) {
        const vir05::SpinSpec* spec = vir05::FindSpinSpec(name);
        if (!spec) continue;
        if (!std::isfinite(value.number) || value.number < spec->minimum ||
            value.number > spec->maximum) {
            std::fprintf(stderr, "datafile_fuzz: %s shows %g outside %g..%g\n", name.c_str(),
                         value.number, spec->minimum, spec->maximum);
            Fault("a numeric field shows a value inside its range");
        }
    }
}

}  // namespace

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

    // The window's presentation of each circuit, as a pass after opening the file runs it.
    vir05::PresentationState state;
    for (int circuit : {0, 1}) {
        areas.SelectedCircuit = circuit;
        vir05::ControlState controls;
        vir05::PresentImage(areas, state, controls);
        CheckSpinValues(controls);

        // The engineer changes nothing and writes: the collect and the rule for untouched
        // fields give back the image as it was.
        std::uint8_t before[vir05::kImageSize];
        std::memcpy(before, areas.DeviceImage(), vir05::kImageSize);
        std::string failed;
        if (!vir05::CollectControls(controls, areas, &failed)) {
            std::fprintf(stderr, "datafile_fuzz: control %s missing\n", failed.c_str());
            Fault("the presentation sets every control the collect reads");
        }
        vir05::KeepUntouchedFields(controls, controls, before, areas);
        const auto changes = vir05::DescribeConfigChanges(areas.DeviceImage(), before);
        if (!changes.empty()) {
            for (const auto& c : changes)
                std::fprintf(stderr, "datafile_fuzz: %s (%s): %s -> %s\n", c.field.c_str(),
                             c.control.c_str(), c.oldText.c_str(), c.newText.c_str());
            Fault("an unchanged collect leaves the configuration area as it was");
        }
        std::memcpy(areas.DeviceImage(), before, vir05::kImageSize);
    }
    areas.SelectedCircuit = 0;
    return rows.size() > 1025 ? 1 : 0;
}
