#include "pipl_expect.h"

#include "pipl_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pointillo::test {
namespace {

std::vector<uint8_t> padded_counted(const std::string& text) {
    std::vector<uint8_t> data;
    data.push_back(static_cast<uint8_t>(text.size()));
    for (const char c : text) {
        data.push_back(static_cast<uint8_t>(c));
    }
    while (data.size() % 4 != 0) {
        data.push_back(0);
    }
    return data;
}

std::vector<uint8_t> le(uint32_t value, int bytes) {
    std::vector<uint8_t> data;
    for (int i = 0; i < bytes; ++i) {
        data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    return data;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    for (const uint8_t byte : b) {
        a.push_back(byte);
    }
    return a;
}

} // namespace

void expect_pointillo_pipl(std::span<const uint8_t> bytes) {
    Pipl pipl;
    ASSERT_NO_THROW(pipl = read_pipl(bytes));
    EXPECT_EQ(pipl.reserved, 1u);
    EXPECT_EQ(pipl.version, 0u);
    EXPECT_EQ(pipl.count, 13u);

    const std::string url = "https://brindlex.example/pointillo/support";
    struct Row {
        const char* key;
        uint32_t length;
        std::vector<uint8_t> data;
    };
    const std::vector<Row> rows = {
        {"kind", 4, {'T', 'K', 'F', 'e'}}, // "eFKT" byte-reversed
        {"name", 12, padded_counted("Pointillo")},
        {"catg", 12, padded_counted("Brindlex")},
        {"8664", 12, {'E', 'f', 'f', 'e', 'c', 't', 'M', 'a', 'i', 'n', 0, 0}},
        {"ePVR", 4, concat(le(2, 2), le(0, 2))},
        {"eSVR", 4, concat(le(13, 2), le(29, 2))},
        {"eVER", 4, le(0x00088C01, 4)},
        {"eINF", 2, le(0, 2)},
        {"eGLO", 4, le(0x06000006, 4)},
        {"eGL2", 4, le(0x08001488, 4)},
        {"eMNA", 20, padded_counted("Brindlex Pointillo")},
        {"aeFL", 4, le(0, 4)},
        {"eURL", static_cast<uint32_t>((url.size() + 1 + 3) / 4 * 4), padded_counted(url)},
    };
    ASSERT_EQ(pipl.properties.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PiplProperty& p = pipl.properties[i];
        SCOPED_TRACE("property " + std::to_string(i + 1) + " (" + rows[i].key + ")");
        EXPECT_EQ(p.vendor, "8BIM");
        EXPECT_EQ(p.key, rows[i].key);
        EXPECT_EQ(p.id, 0u);
        EXPECT_EQ(p.length, rows[i].length);
        EXPECT_EQ(p.data, rows[i].data);
    }
    // The counted strings read back whole.
    EXPECT_EQ(counted_string(pipl.properties[1].data), "Pointillo");
    EXPECT_EQ(counted_string(pipl.properties[2].data), "Brindlex");
    EXPECT_EQ(counted_string(pipl.properties[10].data), "Brindlex Pointillo");
    EXPECT_EQ(counted_string(pipl.properties[12].data), url);
    EXPECT_EQ(reversed_code(pipl.properties[0].data, 0), "eFKT");
}

} // namespace pointillo::test
