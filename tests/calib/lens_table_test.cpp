#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "calib/lens_table.h"

namespace mz::calib {
namespace {

namespace fs = std::filesystem;

class LensRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("mzcalib_lens_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        state_ = std::make_unique<CalibState>();
        resetRegistry(*state_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }

    static std::string rows(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += std::to_string(i) + " " + std::to_string(i * 0.01) + "\n";
        return text;
    }

    fs::path dir_;
    std::unique_ptr<CalibState> state_;
};

TEST(LensTable, BuiltInTableHoldsTheWideLens) {
    const LensTable& lens = builtInLens();
    EXPECT_EQ(lens.width, 720);
    EXPECT_EQ(lens.height, 480);
    EXPECT_FLOAT_EQ(lens.pitchX, 0.004437f);
    EXPECT_FLOAT_EQ(lens.pitchY, 0.004868f);
    ASSERT_EQ(lens.rowCount, 113);
    EXPECT_FLOAT_EQ(lens.rows[1].radius, 0.013991f);
    EXPECT_FLOAT_EQ(lens.rows[104].radius, 1.715635f);
    EXPECT_FLOAT_EQ(lens.rows[112].angle, 112.0f);
    EXPECT_FLOAT_EQ(lens.rows[112].radius, 1.657243f);
    for (int i = 1; i <= 104; ++i) EXPECT_GT(lens.rows[i].radius, lens.rows[i - 1].radius) << i;
}

TEST(LensTable, FromCameraRecordUsesTheForwardPolynomialAndKeepsTheRowCount) {
    LensRow store[kBuiltInRows];
    LensTable table{};
    copyLens(builtInLens(), table, store);
    CameraParam cam{};
    cam.fx = 400;
    cam.fy = 250;
    cam.k1 = 1.0f;
    cam.k2 = 0.5f;
    cam.c3 = 7;
    cam.width = 1280;
    cam.height = 720;
    lensFromCamera(table, cam);
    EXPECT_EQ(table.rowCount, 113);
    EXPECT_EQ(table.width, 1280);
    EXPECT_FLOAT_EQ(table.pitchX, 1.0f / 400);
    EXPECT_FLOAT_EQ(table.pitchY, 1.0f / 250);
    EXPECT_FLOAT_EQ(table.coeff[3], 7);
    const double t = 90 * M_PI / 180;
    EXPECT_NEAR(table.rows[90].radius, t + 0.5 * t * t * t, 1e-5);
    // The built-in table itself is shared and stays as it was.
    EXPECT_FLOAT_EQ(builtInLens().rows[90].radius, 1.579721f);
}

TEST_F(LensRegistryTest, LookupIgnoresCaseAndDirectoryAndCountsUses) {
    const LensTable* a = lookupLens(*state_, "wide20", dir_);
    const LensTable* b = lookupLens(*state_, "some/where\\WiDe20", dir_);
    EXPECT_EQ(a, &builtInLens());
    EXPECT_EQ(b, &builtInLens());
    EXPECT_EQ(state_->registry[0].useCount, 3);
    EXPECT_EQ(state_->registry[1].table, nullptr);
}

TEST_F(LensRegistryTest, UnknownNameIsReadOnceFromItsFile) {
    write("lens_a.txt", "640 480\n0.005 0.006\n3\n0 0\n1 0.02\n2 0.05\n");
    const LensTable* first = lookupLens(*state_, "lens_a.txt", dir_);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width, 640);
    EXPECT_FLOAT_EQ(first->pitchY, 0.006f);
    ASSERT_EQ(first->rowCount, 3);
    EXPECT_FLOAT_EQ(first->rows[2].radius, 0.05f);
    EXPECT_STREQ(state_->registry[1].name, "lens_a.txt");
    fs::remove(dir_ / "lens_a.txt");
    EXPECT_EQ(lookupLens(*state_, "LENS_A.TXT", dir_), first);
    EXPECT_EQ(state_->registry[1].useCount, 2);
}

TEST_F(LensRegistryTest, LongTablesAreCutAtOneHundredRows) {
    write("long.txt", "720 480\n0.004 0.005\n150\n" + rows(150));
    const LensTable* table = lookupLens(*state_, "long.txt", dir_);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount, 100);
    EXPECT_FLOAT_EQ(table->rows[99].angle, 99);
}

TEST_F(LensRegistryTest, MalformedOrMissingFilesGiveNoTableAndLeaveTheEntryFree) {
    const std::pair<const char*, std::string> bad[] = {
        {"empty.txt", ""},
        {"short.txt", "720 480\n0.004 0.005\n5\n" + rows(4)},
        {"words.txt", "720 480\nwide angle\n3\n" + rows(3)},
        {"nan.txt", "720 480\n0.004 0.005\n3\n0 0\nnan 1\n2 2\n"},
        {"negative.txt", "720 480\n0.004 0.005\n-7\n" + rows(3)},
        {"single.txt", "720 480\n0.004 0.005\n1\n0 0\n"},
        {"huge.txt", "99999999999999999999 480\n0.004 0.005\n3\n" + rows(3)},
    };
    for (const auto& [name, text] : bad) {
        write(name, text);
        EXPECT_EQ(lookupLens(*state_, name, dir_), nullptr) << name;
        EXPECT_EQ(state_->registry[1].table, nullptr) << name;
    }
    EXPECT_EQ(lookupLens(*state_, "absent.txt", dir_), nullptr);
    EXPECT_EQ(lookupLens(*state_, nullptr, dir_), nullptr);
}

TEST_F(LensRegistryTest, FullRegistryYieldsNoTable) {
    for (int i = 1; i < kRegistrySize; ++i) {
        const std::string name = "l" + std::to_string(i);
        write(name, "720 480\n0.004 0.005\n2\n0 0\n1 0.1\n");
        ASSERT_NE(lookupLens(*state_, name.c_str(), dir_), nullptr) << name;
    }
    write("extra", "720 480\n0.004 0.005\n2\n0 0\n1 0.1\n");
    EXPECT_EQ(lookupLens(*state_, "extra", dir_), nullptr);
    EXPECT_NE(lookupLens(*state_, "L15", dir_), nullptr);
}

}  // namespace
}  // namespace mz::calib
