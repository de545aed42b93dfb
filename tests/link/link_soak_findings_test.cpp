// Faults the fault soak found, each end to end against the simulator over TCP.
#include <cstring>

#include "core/protocol/frame.h"
#include "link_harness.h"
#include "model/bytes.h"

namespace vir05::test {
namespace {

// A block reply that stalls for longer than the reply wait is cut; its rest comes later and lies
// on the line when the block is asked for again. The retry must drain it rather than take it for
// the start of its own reply (a wrong first byte, or a reply assembled from two).
TEST_F(LinkTest, TheRetryOfAStalledArchiveBlockDrainsTheRestOfTheCutReply) {
    for (const std::uint16_t softVer : {106, 107}) {  // plain and compressed blocks
        SCOPED_TRACE(softVer);
        SimController& sim = MakeSim(softVer);
        StartTcpServer(sim);
        sim::FaultRule rule;
        rule.kind = sim::FaultKind::Stall;
        rule.every = 2;  // the image reply goes clean, the first block's reply stalls
        rule.limit = 1;
        // Far longer than the reply wait of 20 ticks of 5 ms, also when a loaded machine makes
        // every tick late: the wait must cut the reply before the stall ends.
        rule.stallMs = 3000;
        sim.faults.Set(rule);
        captions_.clear();
        link_->SetShowLinkText([this](const std::string& text) {
            captions_.push_back(text);
            // The caption after the cut block is served late, once the rest of the reply has
            // come (the cut came after the stall began, so a whole stall and more is enough);
            // a window busy for a moment does the same.
            if (captions_.size() == 2) std::this_thread::sleep_for(std::chrono::milliseconds(3500));
        });
        ASSERT_TRUE(StartTcp(command::ReadArchive));
        WaitDone();
        EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
        EXPECT_EQ(link_->Request().ErrorCount.load(), 1);  // the cut block only
        ASSERT_GE(captions_.size(), 2u);
        EXPECT_EQ(captions_[1].rfind("Пришло ", 0), 0u) << captions_[1];
        // The image, the first block twice, and the three other blocks.
        EXPECT_EQ(sim.controller.ReceivedFrames().size(), 6u);
        const auto archive = sim.controller.Archive();
        const ArchivePlan plan =
            PlanArchive(2, U32(Received() + kReceiveImageOffset, addr::ArchPos), softVer, 8192);
        for (int k = 1; k <= plan.Blocks(); ++k) {
            const std::uint32_t s = plan.BlockStart(k);
            EXPECT_EQ(0, std::memcmp(Received() + kReceiveArchiveOffset + s, archive.data() + s,
                                     kArchiveBlockSize))
                << "block " << k;
        }
        tcp_.reset();
    }
}

}  // namespace
}  // namespace vir05::test
