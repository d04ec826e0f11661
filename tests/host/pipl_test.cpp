#include "pipl_expect.h"
#include "pipl_reader.h"
#include "pointillo/pipl_bytes.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace pointillo::test {
namespace {

TEST(Pipl, GeneratedBytesHoldEveryRegistrationField) {
    expect_pointillo_pipl(kPiplBytes);
    EXPECT_EQ(kPiplResourceId, 16000);
    EXPECT_EQ(kPiplLanguage, 1033);
}

// The reader must be able to fail, or the test above proves nothing.
TEST(Pipl, ReaderRejectsBrokenLayouts) {
    const std::vector<uint8_t> good(std::begin(kPiplBytes), std::end(kPiplBytes));
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"cut inside the last property", {good.begin(), good.end() - 5}});
    std::vector<uint8_t> trailing = good;
    trailing.insert(trailing.end(), {0, 0, 0, 0});
    cases.push_back({"bytes after the last property", trailing});
    // eINF holds 2 bytes of data and 2 of fill; its key is stored "FNIe".
    std::vector<uint8_t> dirty_fill = good;
    const uint8_t key[] = {'F', 'N', 'I', 'e'};
    const auto at = std::search(good.begin(), good.end(), std::begin(key), std::end(key));
    ASSERT_NE(at, good.end());
    dirty_fill[static_cast<std::size_t>(at - good.begin()) + 4 + 8 + 2 + 1] = 0x55;
    cases.push_back({"non-zero fill", dirty_fill});
    std::vector<uint8_t> more = good;
    more[6] = 14; // one property more than there is
    cases.push_back({"count too high", more});
    for (const Case& c : cases) {
        EXPECT_THROW(read_pipl(c.bytes), std::runtime_error) << c.what;
    }
}

} // namespace
} // namespace pointillo::test
