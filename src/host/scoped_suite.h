#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// How the acquisition's own result counts.
enum class SuiteCheck {
    kPointer,         // available when the host handed out a pointer, whatever it returned
    kPointerAndResult // an error from AcquireSuite also means unavailable
};

// A host suite acquired on construction and released on destruction, only when
// it was acquired. A null basic suite means no suite is available.
template <typename Suite> class ScopedSuite {
  public:
    ScopedSuite(const SPBasicSuite* basic, const char* name, int32 version,
                SuiteCheck check = SuiteCheck::kPointer)
        : basic_(basic), name_(name), version_(version) {
        if (basic_ == nullptr || basic_->AcquireSuite == nullptr) {
            return;
        }
        const void* suite = nullptr;
        const SPErr err = basic_->AcquireSuite(name_, version_, &suite);
        // With kPointerAndResult a failed acquisition is not released, whatever
        // the pointer holds.
        if (check == SuiteCheck::kPointerAndResult && err != 0) {
            return;
        }
        suite_ = static_cast<const Suite*>(suite);
    }

    ~ScopedSuite() {
        if (suite_ != nullptr && basic_->ReleaseSuite != nullptr) {
            // Nothing useful can be done with a failed release.
            static_cast<void>(basic_->ReleaseSuite(name_, version_));
        }
    }

    ScopedSuite(const ScopedSuite&) = delete;
    ScopedSuite& operator=(const ScopedSuite&) = delete;

    const Suite* get() const { return suite_; }
    const Suite* operator->() const { return suite_; }
    explicit operator bool() const { return suite_ != nullptr; }

  private:
    const SPBasicSuite* basic_ = nullptr;
    const char* name_ = nullptr;
    int32 version_ = 0;
    const Suite* suite_ = nullptr;
};

} // namespace pointillo
