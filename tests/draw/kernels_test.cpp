#include "draw/kernels.h"
#include "draw_fixtures.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

// The portable form is always there; each level above needs the one below
// (the AVX2 table starts from the SSE2 one); the default is the highest
// level there is, and asking again gives the same tables.
TEST(DrawForms, PortableAlwaysThereAndTheHighestIsTheDefault) {
    const DrawKernels* highest = nullptr;
    bool below_missing = false;
    for (const DrawLevel level : test::kAllDrawLevels) {
        const DrawKernels* kernels = draw_kernels(level);
        if (kernels == nullptr) {
            below_missing = true;
            continue;
        }
        EXPECT_FALSE(below_missing) << level << " without the level below it";
        EXPECT_EQ(draw_kernels(level), kernels) << level << " built twice";
        highest = kernels;
    }
    ASSERT_NE(draw_kernels(DrawLevel::kPortable), nullptr);
    EXPECT_EQ(&draw_kernels(), highest);
    EXPECT_EQ(draw_kernels(static_cast<DrawLevel>(7)), nullptr);
}

// POINTILLO_PORTABLE_ONLY builds the portable form and nothing else, so
// that build's tests and frames are the portable form's.
TEST(DrawForms, PortableOnlyBuildHasNoOtherForm) {
    if (!POINTILLO_TEST_PORTABLE_ONLY) {
        GTEST_SKIP() << "this build has every form its compiler can build";
    }
    EXPECT_EQ(draw_kernels(DrawLevel::kSse2), nullptr);
    EXPECT_EQ(draw_kernels(DrawLevel::kAvx2), nullptr);
    EXPECT_EQ(&draw_kernels(), draw_kernels(DrawLevel::kPortable));
}

} // namespace
} // namespace pointillo
