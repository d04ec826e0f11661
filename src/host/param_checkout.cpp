#include "host/param_checkout.h"

#include "frame/param_table.h"
#include "host/host_error.h"

#include <cstring>

namespace pointillo {
namespace {

// One parameter checked out from the host; checked in when the holder goes
// out of scope, ignoring the result while a failure unwinds.
class CheckedOutParam {
  public:
    CheckedOutParam(const PF_InData& in_data, PF_ParamIndex index, A_long time)
        : in_data_(in_data) {
        std::memset(&def_, 0, sizeof(def_));
        throw_if_error(in_data.inter.checkout_param(in_data.effect_ref, index, time,
                                                    in_data.time_step, in_data.time_scale, &def_));
        held_ = true;
    }

    ~CheckedOutParam() {
        if (held_) {
            static_cast<void>(in_data_.inter.checkin_param(in_data_.effect_ref, &def_));
        }
    }

    CheckedOutParam(const CheckedOutParam&) = delete;
    CheckedOutParam& operator=(const CheckedOutParam&) = delete;

    const PF_ParamDef& def() const { return def_; }

    // On the success path a failed check-in is an error like any other;
    // disarm first so the destructor does not check in twice.
    void check_in() {
        held_ = false;
        throw_if_error(in_data_.inter.checkin_param(in_data_.effect_ref, &def_));
    }

  private:
    const PF_InData& in_data_;
    PF_ParamDef def_;
    bool held_ = false;
};

// The value a checked-out record carries, read by the kind the parameter was
// registered as (the record's own type field is the host's to fill).
ParamReading reading_of(const PF_ParamDef& def, int32_t index) {
    ParamReading reading;
    const ParamSpec* spec = param_at(index);
    switch (spec != nullptr ? spec->type : ParamType::kGroupStart) {
    case ParamType::kSlider:
        reading.number = def.u.fs_d.value;
        break;
    case ParamType::kPopup:
        reading.number = static_cast<double>(def.u.pd.value);
        break;
    case ParamType::kCheckbox:
        reading.number = static_cast<double>(def.u.bd.value);
        break;
    case ParamType::kColor:
        reading.red = def.u.cd.value.red;
        reading.green = def.u.cd.value.green;
        reading.blue = def.u.cd.value.blue;
        break;
    case ParamType::kGroupStart:
    case ParamType::kGroupEnd:
    case ParamType::kButton:
    case ParamType::kLayer:
        break;
    }
    return reading;
}

} // namespace

ParamReading checkout_param_value(const PF_InData& in_data, int32_t index, A_long time) {
    CheckedOutParam param(in_data, index, time);
    const ParamReading reading = reading_of(param.def(), index);
    param.check_in();
    return reading;
}

} // namespace pointillo
