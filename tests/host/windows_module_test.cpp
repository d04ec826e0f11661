// Checks the cross-built Windows module from the outside, as the host sees
// the file: a 64-bit DLL exporting exactly the two entry points, importing
// only system libraries (the C++ runtime is linked in), and carrying the PiPL
// resource under type "PiPL", id 16000, language 1033.

#include "pe_reader.h"
#include "pipl_expect.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <string>

namespace pointillo::test {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Libraries every Windows x86-64 installation has.
bool is_system_library(const std::string& name) {
    const std::string n = lower(name);
    static const char* const kSystem[] = {"kernel32.dll", "msvcrt.dll",   "ucrtbase.dll",
                                          "user32.dll",   "advapi32.dll", "ntdll.dll",
                                          "bcrypt.dll",   "ws2_32.dll"};
    for (const char* system : kSystem) {
        if (n == system) {
            return true;
        }
    }
    return n.rfind("api-ms-win-", 0) == 0;
}

class WindowsModule : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_THROW(pe = read_pe(read_file(POINTILLO_WINDOWS_MODULE_PATH)))
            << POINTILLO_WINDOWS_MODULE_PATH;
    }
    PeModule pe;
};

TEST_F(WindowsModule, IsA64BitLibrary) {
    EXPECT_EQ(pe.machine, 0x8664);
    EXPECT_TRUE(pe.is_dll);
}

TEST_F(WindowsModule, ExportsExactlyTheTwoEntryPoints) {
    std::vector<std::string> names = pe.exports;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"EffectMain", "PluginDataEntryFunction2"}));
    EXPECT_EQ(pe.export_count, 2u);
}

TEST_F(WindowsModule, ImportsOnlySystemLibraries) {
    EXPECT_FALSE(pe.imports.empty());
    for (const std::string& library : pe.imports) {
        EXPECT_TRUE(is_system_library(library)) << library << " is not a system library";
    }
}

TEST_F(WindowsModule, CarriesThePiplResource) {
    const PeResource* pipl = nullptr;
    for (const PeResource& r : pe.resources) {
        // Resource types are matched without regard to case.
        if (lower(r.type) == "pipl") {
            EXPECT_EQ(pipl, nullptr) << "more than one PiPL resource";
            pipl = &r;
        }
    }
    ASSERT_NE(pipl, nullptr) << "no PiPL resource";
    EXPECT_EQ(pipl->id, 16000u);
    EXPECT_EQ(pipl->language, 1033u);
    expect_pointillo_pipl(pipl->data);
}

} // namespace
} // namespace pointillo::test
