// A simulated controller with generated contents, for the tests that put it on a line.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "model/layout.h"
#include "model/memory.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/generator.h"

namespace vir05::test {

struct SimController {
    explicit SimController(std::uint16_t softVer = 107, int circuits = 2,
                           sim::Controller::HostClock clock = sim::Controller::LocalNow)
        : SimController(Options(softVer, circuits), std::move(clock)) {}
    explicit SimController(const sim::GeneratorOptions& options,
                           sim::Controller::HostClock clock = sim::Controller::LocalNow)
        : controller(std::move(clock)) {
        image = std::make_unique<std::uint8_t[]>(kImageSize);
        archive = std::make_unique<std::uint8_t[]>(kArchiveSize);
        sim::GenerateContents(options, image.get(), archive.get());
        controller.Load(image.get(), archive.get());
    }
    static sim::GeneratorOptions Options(std::uint16_t softVer, int circuits) {
        sim::GeneratorOptions o;
        o.softVer = softVer;
        o.circuits = circuits;
        return o;
    }
    // Serial number 500042, from the generator's seed `seed`.
    static sim::GeneratorOptions Serial500042(std::uint32_t seed) {
        sim::GeneratorOptions o;
        o.seed = seed;
        o.serial = 500042;
        return o;
    }

    sim::Controller controller;
    sim::FaultInjector faults;
    std::unique_ptr<std::uint8_t[]> image;
    std::unique_ptr<std::uint8_t[]> archive;
};

// Areas as after a read of a generated controller: its image and archive, and the
// configuration shadow equal to the image.
inline std::unique_ptr<MemoryAreas> AreasAfterARead() {
    auto areas = std::make_unique<MemoryAreas>();
    sim::GenerateContents(sim::GeneratorOptions{}, areas->DeviceImage(), areas->ArchiveImage());
    std::memcpy(areas->ConfigShadow(), areas->DeviceImage(), kImageSize);
    return areas;
}

}  // namespace vir05::test
