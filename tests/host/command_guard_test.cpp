#include "host/command_guard.h"
#include "host/host_error.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace pointillo {
namespace {

struct NotAnException {};

struct EmptyWhat : std::exception {
    const char* what() const noexcept override { return ""; }
};

PF_OutData fresh_out_data() {
    PF_OutData out;
    std::memset(&out, 0, sizeof(out));
    out.out_flags = PF_OutFlag_NON_PARAM_VARY; // must survive
    return out;
}

// Runs `raise` and translates what it throws, as an export does.
PF_Err translate(const std::function<void()>& raise, PF_OutData* out) {
    try {
        raise();
    } catch (...) {
        return translate_exception(std::current_exception(), out);
    }
    ADD_FAILURE() << "nothing was thrown";
    return PF_Err_NONE;
}

TEST(CommandGuard, TranslatesEveryKindOfFailure) {
    struct Case {
        const char* what;
        std::function<void()> raise;
        PF_Err expected;
        const char* message; // null: nothing written
    };
    const std::vector<Case> cases = {
        {"cancel code", [] { throw_if_error(PF_Interrupt_CANCEL); }, PF_Interrupt_CANCEL, nullptr},
        {"out-of-memory code", [] { throw_if_error(PF_Err_OUT_OF_MEMORY); }, PF_Err_OUT_OF_MEMORY,
         nullptr},
        {"negative code", [] { throw HostError{-1}; }, -1, nullptr},
        {"zero code", [] { throw HostError{PF_Err_NONE}; }, PF_Err_INTERNAL_STRUCT_DAMAGED,
         nullptr},
        {"bad_alloc", [] { throw std::bad_alloc(); }, PF_Err_OUT_OF_MEMORY, nullptr},
        {"bad_array_new_length", [] { throw std::bad_array_new_length(); }, PF_Err_OUT_OF_MEMORY,
         nullptr},
        {"runtime_error",
         [] { throw std::runtime_error("Required After Effects suite unavailable"); },
         PF_Err_BAD_CALLBACK_PARAM, "Pointillo: Required After Effects suite unavailable"},
        {"logic_error", [] { throw std::out_of_range("Unsupported output dimensions"); },
         PF_Err_BAD_CALLBACK_PARAM, "Pointillo: Unsupported output dimensions"},
        {"empty what()", [] { throw EmptyWhat(); }, PF_Err_BAD_CALLBACK_PARAM, "Pointillo: "},
        {"int", [] { throw 4; }, PF_Err_INTERNAL_STRUCT_DAMAGED, nullptr},
        {"string literal", [] { throw "failure"; }, PF_Err_INTERNAL_STRUCT_DAMAGED, nullptr},
        {"other type", [] { throw NotAnException{}; }, PF_Err_INTERNAL_STRUCT_DAMAGED, nullptr},
    };
    for (const Case& c : cases) {
        PF_OutData out = fresh_out_data();
        EXPECT_EQ(translate(c.raise, &out), c.expected) << c.what;
        if (c.message != nullptr) {
            EXPECT_STREQ(out.return_msg, c.message) << c.what;
            EXPECT_EQ(out.out_flags, PF_OutFlag_NON_PARAM_VARY | PF_OutFlag_DISPLAY_ERROR_MESSAGE)
                << c.what;
        } else {
            EXPECT_STREQ(out.return_msg, "") << c.what;
            EXPECT_EQ(out.out_flags, PF_OutFlag_NON_PARAM_VARY) << c.what;
        }
    }
}

TEST(CommandGuard, CutsLongMessagesToTheField) {
    // "Pointillo: " is 11 characters, so 244 characters of text fill all 255.
    struct Case {
        std::size_t text_length;
        std::size_t expected_length;
    };
    for (const Case& c : {Case{243, 254}, Case{244, 255}, Case{245, 255}, Case{5000, 255}}) {
        std::string text(c.text_length, 'x');
        text[0] = 'A';
        PF_OutData out = fresh_out_data();
        std::memset(out.return_msg, '#', sizeof(out.return_msg));
        EXPECT_EQ(translate([&] { throw std::runtime_error(text); }, &out),
                  PF_Err_BAD_CALLBACK_PARAM);
        const std::string message(out.return_msg, strnlen(out.return_msg, sizeof(out.return_msg)));
        EXPECT_EQ(message.size(), c.expected_length) << "text of " << c.text_length;
        EXPECT_EQ(message, ("Pointillo: " + text).substr(0, c.expected_length))
            << "text of " << c.text_length;
        EXPECT_EQ(out.return_msg[c.expected_length], '\0') << "text of " << c.text_length;
        EXPECT_TRUE(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    }
}

TEST(CommandGuard, WithoutOutDataNothingIsWritten) {
    EXPECT_EQ(translate([] { throw std::runtime_error("text"); }, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(translate([] { throw HostError{PF_Interrupt_CANCEL}; }, nullptr),
              PF_Interrupt_CANCEL);
}

TEST(CommandGuard, NoFailureIsInternalDamage) {
    PF_OutData out = fresh_out_data();
    EXPECT_EQ(translate_exception(nullptr, &out), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_STREQ(out.return_msg, "");
}

} // namespace
} // namespace pointillo
