// A collect of controls nobody touched gives back the image byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/present/present.h"
#include "core/present/untouched.h"
#include "model/bytes.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

class PresentUntouched : public ::testing::Test {
  protected:
    void SetUp() override {
        areas_ = std::make_unique<MemoryAreas>();
        sim::GenerateContents(sim::GeneratorOptions{}, areas_->DeviceImage(),
                              areas_->ArchiveImage());
        // Values the controls cannot show exactly, and values outside their ranges.
        PutI16(areas_->DeviceImage(), CircuitField(0, rec::TConst), 2150);  // whole degrees: 22
        PutU32(areas_->DeviceImage(), CircuitField(0, rec::TimeRC), 90);    // minutes: 2
        areas_->DeviceImage()[CircuitField(0, rec::ParamBase)] = 77;        // no such item
        PutI16(areas_->DeviceImage(), CircuitField(0, rec::KlapManual), 100);
        PutF32(areas_->DeviceImage(), CircuitField(0, rec::K1_P), 1.23456789f);
        std::memcpy(before_, areas_->DeviceImage(), kImageSize);
        PresentImage(*areas_, state_, presented_);
    }
    std::unique_ptr<MemoryAreas> areas_;
    PresentationState state_;
    ControlState presented_;
    std::uint8_t before_[kImageSize];
};

TEST_F(PresentUntouched, NothingChangedNothingWritten) {
    for (int circuit : {0, 1}) {
        areas_->SelectedCircuit = circuit;
        PresentImage(*areas_, state_, presented_);
        ASSERT_TRUE(CollectControls(presented_, *areas_));
        // Without the rule the collect rounds what circuit 1's controls cannot show ...
        if (circuit == 0) {
            EXPECT_NE(0, std::memcmp(areas_->DeviceImage(), before_, kImageSize));
        }
        std::memcpy(areas_->DeviceImage(), before_, kImageSize);
        ASSERT_TRUE(CollectControls(presented_, *areas_));
        KeepUntouchedFields(presented_, presented_, before_, *areas_);
        // ... with it not a byte of the configuration area moves.
        EXPECT_EQ(0, std::memcmp(areas_->DeviceImage() + addr::ConfigStart,
                                 before_ + addr::ConfigStart, addr::ConfigLength))
            << "circuit " << circuit;
    }
}

TEST_F(PresentUntouched, OnlyTheEditedFieldsAreWritten) {
    ControlState edited = presented_;
    edited["Tv"].number = 23;
    // The valve shows "open" for its stored 100; the user closes it.
    ASSERT_TRUE(presented_["KlapOpen"].checked);
    edited["KlapOpen"].checked = false;
    edited["KlapFree"].checked = false;
    edited["KlapClose"].checked = true;
    ASSERT_TRUE(CollectControls(edited, *areas_));
    KeepUntouchedFields(edited, presented_, before_, *areas_);
    std::uint8_t want[kImageSize];
    std::memcpy(want, before_, kImageSize);
    want[CircuitField(0, rec::Tv)] = 23;
    PutI16(want, CircuitField(0, rec::KlapManual), -6000);
    for (int a = addr::ConfigStart; a < static_cast<int>(kImageSize); ++a)
        ASSERT_EQ(areas_->DeviceImage()[a], want[a]) << "address " << a;
}

}  // namespace
}  // namespace vir05
