// Several engines at once: four engines on four memory lines, each in its own thread and each
// with a simulated controller of its own behind its line, read the archive at the same time.
// Each one's bytes, trace and areas must be its own.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol/link_engine.h"
#include "core/protocol/memory_line.h"
#include "core/protocol/trace.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/memory.h"
#include "sim/controller.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

constexpr std::int64_t kHostSeconds = 1796990142;  // a clock that stands still

// One controller on one line, and the engine that reads it.
struct Station {
    explicit Station(int index) : controller([] { return kHostSeconds; }) {
        sim::GeneratorOptions o;
        o.seed = static_cast<std::uint32_t>(index + 1);
        o.serial = 600001 + index;
        std::vector<std::uint8_t> image(kImageSize), archive(kArchiveSize);
        sim::GenerateContents(o, image.data(), archive.data());
        controller.Load(image.data(), archive.data());
        netAddr = static_cast<std::uint8_t>(10 + index);
        controller.SetNetAddress(netAddr);
        line.line.onWrite = [this](const std::uint8_t* d, std::size_t n) {
            for (const auto& frame : parser.Feed(d, n))
                if (const auto reply = controller.Handle(frame)) {
                    replies.insert(replies.end(), reply->bytes.begin(), reply->bytes.end());
                    line.line.Push(reply->bytes);
                }
        };
        engine = std::make_unique<LinkEngine>(line, LinkImage::Of(*areas), LinkTiming::Default(),
                                              &trace, [](int) {});
    }

    void Run() {
        engine->Request().FillTcp(command::ReadArchive, "10.0.0." + std::to_string(netAddr), 4001,
                                  netAddr, areas->ReceiveArea.data(), &areas->ProgressCell);
        engine->RunPass();
    }

    sim::Controller controller;
    sim::FrameParser parser;
    std::uint8_t netAddr = 0;
    MemoryLine line{LineKind::Tcp};
    MemoryTrace trace;
    std::vector<std::uint8_t> replies;  // every byte the controller put on the line
    std::unique_ptr<MemoryAreas> areas = std::make_unique<MemoryAreas>();
    std::unique_ptr<LinkEngine> engine;
};

TEST(LinkEngines, FourEnginesOnFourLinesAtOnceKeepTheirOwnBytesTracesAndAreas) {
    constexpr int kEngines = 4;
    std::vector<std::unique_ptr<Station>> stations;
    for (int i = 0; i < kEngines; ++i)
        stations.push_back(std::make_unique<Station>(i));
    std::latch start(kEngines);
    std::vector<std::thread> threads;
    for (auto& s : stations)
        threads.emplace_back([&start, &s] {
            start.arrive_and_wait();  // all four passes run together
            s->Run();
        });
    for (auto& t : threads)
        t.join();

    for (int i = 0; i < kEngines; ++i) {
        SCOPED_TRACE(i);
        Station& s = *stations[static_cast<std::size_t>(i)];
        const LinkRequest& req = s.engine->Request();
        ASSERT_EQ(req.Status.load(), link_status::Success) << req.ErrorText;
        EXPECT_EQ(req.ArchiveBlocksRead, 4);
        EXPECT_EQ(s.areas->ProgressCell.load(), 100);

        // Its own controller's memories in its own receive area.
        const auto image = s.controller.Image();
        const std::uint8_t* got = s.areas->ReceiveArea.data();
        EXPECT_EQ(U32(got + kReceiveImageOffset, addr::DevNumber),
                  static_cast<std::uint32_t>(600001 + i));
        EXPECT_EQ(0, std::memcmp(got + kReceiveImageOffset, image.data(), kImageSize));
        const auto archive = s.controller.Archive();
        const ArchivePlan plan =
            PlanArchive(U8(image.data(), addr::NumSystems), U32(image.data(), addr::ArchPos),
                        U16(image.data(), addr::SoftVer), kDefaultArchiveSlots);
        ASSERT_EQ(plan.Blocks(), 4);
        for (int k = 1; k <= plan.Blocks(); ++k) {
            const std::size_t at = plan.BlockStart(k);
            EXPECT_EQ(0, std::memcmp(got + kReceiveArchiveOffset + at, archive.data() + at,
                                     kArchiveBlockSize))
                << "block " << k;
        }

        // Every frame on its line went to its own address.
        for (const auto& frame : s.controller.ReceivedFrames())
            EXPECT_EQ(frame[1], s.netAddr);
        EXPECT_EQ(s.line.connects,
                  (std::vector<std::string>{"10.0.0." + std::to_string(s.netAddr) + ":4001"}));

        // Its trace holds exactly the bytes of its own line, each way in order.
        std::vector<std::string> sent, received;
        for (const std::string& l : s.trace.lines) {
            if (l.rfind(" out", 0) == 0) sent.push_back(l);
            if (l.rfind(" i ", 0) == 0) received.push_back(l);
        }
        std::vector<std::string> wantSent, wantReceived;
        for (std::uint8_t b : s.line.line.out)
            wantSent.push_back(TraceLog::SentLine(b));
        for (std::uint8_t b : s.replies)
            wantReceived.push_back(TraceLog::ReceivedLine(b));
        EXPECT_EQ(sent, wantSent);
        EXPECT_EQ(received, wantReceived);
    }
    // The four images differ (serial numbers), so no area can hold another's by chance.
    for (int i = 1; i < kEngines; ++i)
        EXPECT_NE(0, std::memcmp(stations[0]->areas->ReceiveArea.data() + kReceiveImageOffset,
                                 stations[static_cast<std::size_t>(i)]->areas->ReceiveArea.data() +
                                     kReceiveImageOffset,
                                 kImageSize));
}

}  // namespace
}  // namespace vir05
