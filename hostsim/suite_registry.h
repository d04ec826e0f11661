#pragma once

// The suites the host offers by name and version, and how often each was
// asked for, handed out and given back.

#include "host/ae_sdk.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace hostsim {

// Codes of the basic suite (SPErr), as four characters.
inline constexpr SPErr kSuiteNotFound = 0x53214664; // 'S!Fd'
inline constexpr SPErr kBadParameter = 0x50617221;  // 'Par!'
inline constexpr SPErr kOutOfMemory = 0x214d454d;   // '!MEM'

// What the host saw of one suite name and version.
struct SuiteCounts {
    int64_t acquire_calls = 0; // every AcquireSuite call
    int64_t acquired = 0;      // calls that handed the suite out
    int64_t release_calls = 0; // every ReleaseSuite call
    int64_t released = 0;      // releases of a suite that was out

    int64_t outstanding() const { return acquired - released; }
};

class SuiteRegistry {
  public:
    // Offers a suite table (a struct of function pointers that outlives the
    // registry). A withheld or unknown suite is refused with kSuiteNotFound.
    void add(const std::string& name, int32_t version, const void* table);
    void withhold(const std::string& name, int32_t version, bool withheld = true);

    SuiteCounts counts(const std::string& name, int32_t version) const;
    // True when every suite handed out was released.
    bool all_released() const;
    // Suite name and version of every suite still out, for failure messages.
    std::string outstanding() const;

    // The work of AcquireSuite and ReleaseSuite (a release of a suite that is
    // not out is kBadParameter), and the count of every call of either.
    SPErr acquire(const char* name, int32_t version, const void** suite);
    SPErr release(const char* name, int32_t version);
    void note_call(const char* name, int32_t version, bool acquire);

  private:
    struct Entry {
        const void* table = nullptr;
        bool withheld = false;
        SuiteCounts counts;
    };
    using Key = std::pair<std::string, int32_t>;

    mutable std::mutex mutex_;
    std::map<Key, Entry> suites_;
};

} // namespace hostsim
