// The source slots through the host's AEGP streams: the slot count, the two
// buttons, which controls are hidden, and every failure of a host call.

#include "effect_fixture.h"

#include <limits>
#include <string>
#include <vector>

namespace pointillo::test {
namespace {

class SourceSlots : public EffectTest {
  protected:
    void SetUp() override {
        EffectTest::SetUp();
        text_count = instance.index_checked("Text Count");
        dot_color = instance.index_checked("Dot Color");
        particle_color = instance.index_checked("Particle Color");
    }

    static int32_t slot_index(int32_t slot) { return 4 + slot; }

    PF_Err update_ui(hostsim::CommandIo& io) {
        return hostsim::send_command(host, module, &instance, PF_Cmd_UPDATE_PARAMS_UI, io);
    }
    PF_Err update_ui() {
        hostsim::CommandIo io;
        return update_ui(io);
    }
    PF_Err press(const char* name, hostsim::CommandIo& io) {
        return hostsim::user_changed_param(host, module, instance, instance.index_checked(name),
                                           io);
    }

    double count() const { return instance.value_at(text_count, 0, 30).number; }
    int32_t slot_layer(int32_t slot) const {
        return static_cast<int32_t>(instance.value_at(slot_index(slot), 0, 30).number);
    }
    // Slots shown in the controls, in order.
    std::vector<int32_t> shown_slots() const {
        std::vector<int32_t> shown;
        for (int32_t slot = 1; slot <= 16; ++slot) {
            if (!instance.hidden(slot_index(slot))) {
                shown.push_back(slot);
            }
        }
        return shown;
    }
    static std::vector<int32_t> first(int32_t n) {
        std::vector<int32_t> slots;
        for (int32_t slot = 1; slot <= n; ++slot) {
            slots.push_back(slot);
        }
        return slots;
    }
    // Every parameter's hidden flag.
    std::vector<bool> visibility() const {
        std::vector<bool> hidden;
        for (int32_t index = 0; index < instance.param_count(); ++index) {
            hidden.push_back(instance.hidden(index));
        }
        return hidden;
    }

    int32_t text_count = 0;
    int32_t dot_color = 0;
    int32_t particle_color = 0;
};

TEST_F(SourceSlots, AFreshInstanceShowsTwoSlots) {
    hostsim::CommandIo io;
    ASSERT_EQ(update_ui(io), PF_Err_NONE);
    EXPECT_EQ(shown_slots(), first(2));
    EXPECT_TRUE(instance.hidden(text_count));
    EXPECT_TRUE(instance.hidden(dot_color)) << "Match Source Colors is on";
    EXPECT_TRUE(instance.hidden(particle_color)) << "Match Main Particle Color is on";
    EXPECT_EQ(count(), 2.0);
    EXPECT_EQ(io.out_data.out_flags & PF_OutFlag_FORCE_RERENDER, 0) << "a refresh writes nothing";
    // Text Count, slots 3 to 16 and the two colours change; slots 1 and 2
    // are already shown.
    EXPECT_EQ(host.calls.count("AEGP_SetDynamicStreamFlag"), 17);
}

TEST_F(SourceSlots, AFlagAlreadyInTheWantedStateIsNotSetAgain) {
    ASSERT_EQ(update_ui(), PF_Err_NONE);
    host.calls.clear();
    ASSERT_EQ(update_ui(), PF_Err_NONE);
    EXPECT_EQ(host.calls.count("AEGP_SetDynamicStreamFlag"), 0);
    EXPECT_EQ(host.calls.count("AEGP_GetDynamicStreamFlags"), 19);
}

TEST_F(SourceSlots, AddSourceShowsOneMoreSlot) {
    ASSERT_EQ(update_ui(), PF_Err_NONE);
    hostsim::CommandIo io;
    ASSERT_EQ(press("Add Source", io), PF_Err_NONE);
    EXPECT_EQ(count(), 3.0);
    EXPECT_EQ(shown_slots(), first(3));
    EXPECT_NE(io.out_data.out_flags & PF_OutFlag_FORCE_RERENDER, 0);
}

TEST_F(SourceSlots, AddSourceAtSixteenStillWritesTheCount) {
    instance.set_value(text_count, 16);
    // The command's own array, to see what the module wrote into it.
    std::vector<PF_ParamDef> values;
    for (int32_t index = 0; index < instance.param_count(); ++index) {
        values.push_back(instance.param_at(index, 0, 30));
        values.back().uu.change_flags = 0;
    }
    std::vector<PF_ParamDef*> pointers;
    for (PF_ParamDef& value : values) {
        pointers.push_back(&value);
    }
    hostsim::CommandIo io;
    io.params = pointers.data();
    ASSERT_EQ(press("Add Source", io), PF_Err_NONE);
    const PF_ParamDef& written = values[static_cast<std::size_t>(text_count)];
    EXPECT_EQ(written.u.fs_d.value, 16.0);
    EXPECT_EQ(written.uu.change_flags & PF_ChangeFlag_CHANGED_VALUE, PF_ChangeFlag_CHANGED_VALUE);
    EXPECT_NE(io.out_data.out_flags & PF_OutFlag_FORCE_RERENDER, 0);
    EXPECT_EQ(shown_slots(), first(16));
}

TEST_F(SourceSlots, RemoveLastSourceClearsTheLastSlot) {
    for (int32_t slot = 1; slot <= 3; ++slot) {
        fill_slot(slot, add_word(40, 20, 2));
    }
    instance.set_value(text_count, 3);
    ASSERT_EQ(update_ui(), PF_Err_NONE);
    EXPECT_EQ(shown_slots(), first(3));
    hostsim::CommandIo io;
    ASSERT_EQ(press("Remove Last Source", io), PF_Err_NONE);
    EXPECT_EQ(slot_layer(3), 0);
    EXPECT_NE(slot_layer(2), 0);
    EXPECT_EQ(count(), 2.0);
    EXPECT_EQ(shown_slots(), first(2));
    EXPECT_NE(io.out_data.out_flags & PF_OutFlag_FORCE_RERENDER, 0);
}

TEST_F(SourceSlots, RemoveAtOneSlotClearsItAndKeepsItShown) {
    fill_slot(1, add_word(40, 20, 2));
    instance.set_value(text_count, 1);
    hostsim::CommandIo io;
    ASSERT_EQ(press("Remove Last Source", io), PF_Err_NONE);
    EXPECT_EQ(slot_layer(1), 0);
    EXPECT_EQ(count(), 1.0);
    EXPECT_EQ(shown_slots(), first(1));
}

TEST_F(SourceSlots, AFilledSlotIsNeverHidden) {
    fill_slot(7, add_word(40, 20, 2));
    instance.set_value(text_count, 3);
    hostsim::CommandIo io;
    ASSERT_EQ(update_ui(io), PF_Err_NONE);
    EXPECT_EQ(shown_slots(), first(7));
    EXPECT_EQ(count(), 3.0) << "a refresh does not write the count";
    EXPECT_EQ(io.out_data.out_flags & PF_OutFlag_FORCE_RERENDER, 0);

    hostsim::CommandIo change;
    ASSERT_EQ(hostsim::user_changed_param(host, module, instance, slot_index(7), change),
              PF_Err_NONE);
    EXPECT_EQ(count(), 7.0);
}

TEST_F(SourceSlots, RemoveWithAHigherFilledSlotClearsThatSlot) {
    fill_slot(7, add_word(40, 20, 2));
    instance.set_value(text_count, 3);
    hostsim::CommandIo io;
    ASSERT_EQ(press("Remove Last Source", io), PF_Err_NONE);
    EXPECT_EQ(slot_layer(7), 0);
    EXPECT_EQ(count(), 6.0);
    EXPECT_EQ(shown_slots(), first(6));
}

TEST_F(SourceSlots, ColourMatchingHidesAndShowsTheColours) {
    ASSERT_EQ(update_ui(), PF_Err_NONE);
    instance.set_value("Match Source Colors", 0);
    hostsim::CommandIo off;
    ASSERT_EQ(press("Match Source Colors", off), PF_Err_NONE);
    EXPECT_FALSE(instance.hidden(dot_color));
    EXPECT_TRUE(instance.hidden(particle_color));
    EXPECT_EQ(count(), 2.0);
    EXPECT_NE(off.out_data.out_flags & PF_OutFlag_FORCE_RERENDER, 0) << "the count is rewritten";

    instance.set_value("Match Source Colors", 1);
    instance.set_value("Match Main Particle Color", 0);
    hostsim::CommandIo on;
    ASSERT_EQ(press("Match Source Colors", on), PF_Err_NONE);
    EXPECT_TRUE(instance.hidden(dot_color));
    EXPECT_FALSE(instance.hidden(particle_color));
}

TEST_F(SourceSlots, TheCountIsTruncatedAndClamped) {
    fill_slot(3, add_word(40, 20, 2));
    struct Row {
        double stored;
        double written;
    };
    // Truncated toward zero, at most 16, at least the highest filled slot
    // (3), at least 1; outside the int range it counts as the lowest int.
    const Row rows[] = {{5.9, 5.0},          {16.9, 16.0},
                        {17.0, 16.0},        {2.0, 3.0},
                        {-5.0, 3.0},         {1e12, 3.0},
                        {-1e12, 3.0},        {3.99, 3.0},
                        {2147483648.0, 3.0}, {std::numeric_limits<double>::quiet_NaN(), 3.0}};
    for (const Row row : rows) {
        instance.set_value(text_count, row.stored);
        hostsim::CommandIo io;
        ASSERT_EQ(hostsim::user_changed_param(host, module, instance, slot_index(3), io),
                  PF_Err_NONE)
            << row.stored;
        EXPECT_EQ(count(), row.written) << "stored " << row.stored;
    }
}

TEST_F(SourceSlots, SlotsAreReadAtTheCommandsTime) {
    // Slot 4 holds a layer only from 1 s on.
    const int32_t layer = add_word(40, 20, 2);
    instance.set_keyframes("Source 4", {{0.0, {0.0, {}}}, {1.0, {static_cast<double>(layer), {}}}});
    hostsim::CommandIo early;
    ASSERT_EQ(update_ui(early), PF_Err_NONE);
    EXPECT_EQ(shown_slots(), first(2));
    hostsim::CommandIo late;
    late.in_data.current_time = 60; // 2 s at 30 a second
    ASSERT_EQ(update_ui(late), PF_Err_NONE);
    EXPECT_EQ(shown_slots(), first(4));
}

TEST_F(SourceSlots, AMissingSuiteMeansNothingIsDone) {
    const std::pair<const char*, int32_t> suites[] = {{"AEGP PF Interface Suite", 1},
                                                      {"AEGP Stream Suite", 11},
                                                      {"AEGP Effect Suite", 5},
                                                      {"AEGP Dynamic Stream Suite", 5}};
    for (const auto& [name, version] : suites) {
        host.calls.clear();
        host.suites.withhold(name, version);
        hostsim::CommandIo io;
        EXPECT_EQ(press("Add Source", io), PF_Err_NONE) << name;
        host.suites.withhold(name, version, false);
        EXPECT_EQ(count(), 2.0) << name;
        EXPECT_EQ(io.out_data.out_flags, 0) << name;
        EXPECT_EQ(host.calls.count("AcquireSuite"), 4) << name << ": all four are asked for";
        EXPECT_EQ(host.calls.count("AEGP_GetNewEffectForEffect"), 0) << name;
        EXPECT_EQ(host.outstanding_report(), "all clean") << name;
    }
}

TEST_F(SourceSlots, NoParameterArrayMeansNothingIsDone) {
    hostsim::CommandIo io;
    io.params = nullptr;
    EXPECT_EQ(update_ui(io), PF_Err_NONE);
    EXPECT_EQ(host.calls.count("AEGP_GetNewEffectStreamByIndex"), 0);
    EXPECT_EQ(host.calls.count("AEGP_DisposeEffect"), 1);
    EXPECT_EQ(shown_slots(), first(16));
}

// Every host call of a "Remove Last Source" run fails in turn.
TEST_F(SourceSlots, EveryFailingHostCallIsReturnedAndEverythingGivenBack) {
    constexpr PF_Err kCode = 4242;
    for (int32_t slot = 1; slot <= 3; ++slot) {
        fill_slot(slot, add_word(40, 20, 2));
    }
    instance.set_value(text_count, 3);
    ASSERT_EQ(update_ui(), PF_Err_NONE);

    // The command's own array, to see what the module wrote into it.
    std::vector<PF_ParamDef> values;
    std::vector<PF_ParamDef*> pointers;
    const auto run = [&](hostsim::CommandIo& io) {
        values.clear();
        pointers.clear();
        for (int32_t index = 0; index < instance.param_count(); ++index) {
            values.push_back(instance.param_at(index, 0, 30));
            values.back().uu.change_flags = 0;
        }
        for (PF_ParamDef& value : values) {
            pointers.push_back(&value);
        }
        io.params = pointers.data();
        return press("Remove Last Source", io);
    };

    // A clean run, for the list of calls and where the visibility phase starts.
    host.calls.clear();
    {
        hostsim::CommandIo io;
        ASSERT_EQ(run(io), PF_Err_NONE);
    }
    const std::vector<hostsim::CallRecord> clean = host.calls.log();
    std::size_t visibility_phase = clean.size();
    for (std::size_t i = 0; i < clean.size(); ++i) {
        if (clean[i].function == "AEGP_GetDynamicStreamFlags") {
            visibility_phase = i - 1; // its stream was asked for first
            break;
        }
    }
    ASSERT_LT(visibility_phase, clean.size());
    ASSERT_EQ(host.calls.count("AEGP_SetStreamValue"), 1);
    ASSERT_EQ(host.calls.count("AEGP_GetNewStreamValue"), 16);

    for (std::size_t k = 1; k <= clean.size(); ++k) {
        // Put the instance back as before the clean run.
        fill_slot(3, add_word(40, 20, 2));
        instance.set_value(text_count, 3);
        ASSERT_EQ(update_ui(), PF_Err_NONE);
        const std::vector<bool> visible_before = visibility();

        const std::string function = clean[k - 1].function;
        const bool gives_back = function == "ReleaseSuite" || function == "AEGP_DisposeStream" ||
                                function == "AEGP_DisposeStreamValue" ||
                                function == "AEGP_DisposeEffect";
        host.calls.clear();
        host.calls.fail_any_call(static_cast<int64_t>(k), kCode,
                                 gives_back ? hostsim::FaultMode::kAfter
                                            : hostsim::FaultMode::kInstead);
        hostsim::CommandIo io;
        const PF_Err err = run(io);
        host.calls.clear_faults();

        const std::string row =
            "call " + std::to_string(k) + " (" + function + " " + clean[k - 1].detail + ")";
        EXPECT_EQ(host.outstanding_report(), "all clean") << row;
        EXPECT_EQ(io.out_data.return_msg[0], '\0') << row;
        EXPECT_EQ(io.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0) << row;
        const PF_ParamDef& written = values[static_cast<std::size_t>(text_count)];
        if (function == "AcquireSuite") {
            EXPECT_EQ(err, PF_Err_NONE) << row << ": a missing suite is no error";
            EXPECT_EQ(host.calls.count("AEGP_GetNewEffectForEffect"), 0) << row;
            EXPECT_EQ(written.uu.change_flags, 0) << row;
            EXPECT_EQ(visibility(), visible_before) << row;
        } else if (gives_back) {
            EXPECT_EQ(err, PF_Err_NONE) << row << ": a failed release is ignored";
            EXPECT_EQ(written.u.fs_d.value, 2.0) << row;
        } else {
            EXPECT_EQ(err, kCode) << row;
            if (k - 1 < visibility_phase) {
                // Failed while reading the slots or clearing one: nothing changed.
                EXPECT_EQ(written.u.fs_d.value, 3.0) << row;
                EXPECT_EQ(written.uu.change_flags, 0) << row;
                EXPECT_EQ(io.out_data.out_flags, 0) << row;
                EXPECT_EQ(visibility(), visible_before) << row;
            } else {
                EXPECT_EQ(written.u.fs_d.value, 2.0) << row;
                EXPECT_NE(written.uu.change_flags & PF_ChangeFlag_CHANGED_VALUE, 0) << row;
                EXPECT_NE(io.out_data.out_flags & PF_OutFlag_FORCE_RERENDER, 0) << row;
            }
        }
    }
}

} // namespace
} // namespace pointillo::test
