#include "properties.h"

#include "calls.h"

namespace pointillo::ofxhost {
namespace {

PropertySet* set_of(OfxPropertySetHandle h) {
    return PropertySet::from(h);
}

template <typename T> std::vector<T>& values_of(Property& p);
template <> std::vector<int>& values_of<int>(Property& p) {
    return p.ints;
}
template <> std::vector<double>& values_of<double>(Property& p) {
    return p.doubles;
}
template <> std::vector<std::string>& values_of<std::string>(Property& p) {
    return p.strings;
}
template <> std::vector<void*>& values_of<void*>(Property& p) {
    return p.pointers;
}

template <typename T> constexpr PropType type_of();
template <> constexpr PropType type_of<int>() {
    return PropType::kInt;
}
template <> constexpr PropType type_of<double>() {
    return PropType::kDouble;
}
template <> constexpr PropType type_of<std::string>() {
    return PropType::kString;
}
template <> constexpr PropType type_of<void*>() {
    return PropType::kPointer;
}

std::string detail(const char* property, int index) {
    return std::string(property != nullptr ? property : "(null)") + " " + std::to_string(index);
}

// Writes value `index` (at most one past the end); an open set creates the
// property on first write.
template <typename T>
OfxStatus set_value(const char* fn, OfxPropertySetHandle h, const char* name, int index, T value) {
    if (suite_call(fn, [&] { return detail(name, index); })) {
        return kOfxStatErrUnknown;
    }
    PropertySet* set = set_of(h);
    if (set == nullptr || name == nullptr) {
        return kOfxStatErrBadHandle;
    }
    std::lock_guard<std::mutex> lock(set->mutex);
    auto it = set->props.find(name);
    if (it == set->props.end()) {
        if (!set->open) {
            return kOfxStatErrUnknown;
        }
        Property p;
        p.type = type_of<T>();
        it = set->props.emplace(name, std::move(p)).first;
    }
    if (it->second.type != type_of<T>()) {
        return kOfxStatErrValue;
    }
    auto& values = values_of<T>(it->second);
    if (index < 0 || static_cast<std::size_t>(index) > values.size()) {
        return kOfxStatErrBadIndex;
    }
    if (static_cast<std::size_t>(index) == values.size()) {
        values.push_back(std::move(value));
    } else {
        values[static_cast<std::size_t>(index)] = std::move(value);
    }
    return kOfxStatOK;
}

template <typename T>
OfxStatus set_values(const char* fn, OfxPropertySetHandle h, const char* name, int count,
                     const T* values) {
    if (suite_call(fn, [&] { return detail(name, count); })) {
        return kOfxStatErrUnknown;
    }
    PropertySet* set = set_of(h);
    if (set == nullptr || name == nullptr || values == nullptr || count < 0) {
        return kOfxStatErrBadHandle;
    }
    std::lock_guard<std::mutex> lock(set->mutex);
    auto it = set->props.find(name);
    if (it == set->props.end()) {
        if (!set->open) {
            return kOfxStatErrUnknown;
        }
        Property p;
        p.type = type_of<T>();
        it = set->props.emplace(name, std::move(p)).first;
    }
    if (it->second.type != type_of<T>()) {
        return kOfxStatErrValue;
    }
    values_of<T>(it->second).assign(values, values + count);
    return kOfxStatOK;
}

template <typename T, typename Out>
OfxStatus get_values(const char* fn, OfxPropertySetHandle h, const char* name, int first, int count,
                     Out* out) {
    if (suite_call(fn, [&] { return detail(name, first); })) {
        return kOfxStatErrUnknown;
    }
    PropertySet* set = set_of(h);
    if (set == nullptr || name == nullptr || out == nullptr) {
        return kOfxStatErrBadHandle;
    }
    std::lock_guard<std::mutex> lock(set->mutex);
    auto it = set->props.find(name);
    if (it == set->props.end()) {
        return kOfxStatErrUnknown;
    }
    if (it->second.type != type_of<T>()) {
        return kOfxStatErrValue;
    }
    auto& values = values_of<T>(it->second);
    if (first < 0 || count < 0 || static_cast<std::size_t>(first + count) > values.size()) {
        return kOfxStatErrBadIndex;
    }
    for (int i = 0; i < count; ++i) {
        if constexpr (std::is_same_v<T, std::string>) {
            // Owned by the set, valid until it changes.
            out[i] = values[static_cast<std::size_t>(first + i)].data();
        } else {
            out[i] = values[static_cast<std::size_t>(first + i)];
        }
    }
    return kOfxStatOK;
}

OfxStatus prop_set_pointer(OfxPropertySetHandle h, const char* name, int index, void* value) {
    return set_value<void*>("propSetPointer", h, name, index, value);
}
OfxStatus prop_set_string(OfxPropertySetHandle h, const char* name, int index, const char* value) {
    return set_value<std::string>("propSetString", h, name, index, value != nullptr ? value : "");
}
OfxStatus prop_set_double(OfxPropertySetHandle h, const char* name, int index, double value) {
    return set_value<double>("propSetDouble", h, name, index, value);
}
OfxStatus prop_set_int(OfxPropertySetHandle h, const char* name, int index, int value) {
    return set_value<int>("propSetInt", h, name, index, value);
}
OfxStatus prop_set_pointer_n(OfxPropertySetHandle h, const char* name, int count,
                             void* const* value) {
    return set_values<void*>("propSetPointerN", h, name, count, value);
}
OfxStatus prop_set_string_n(OfxPropertySetHandle h, const char* name, int count,
                            const char* const* value) {
    if (value == nullptr || count < 0) {
        return kOfxStatErrBadHandle;
    }
    std::vector<std::string> strings;
    for (int i = 0; i < count; ++i) {
        strings.emplace_back(value[i] != nullptr ? value[i] : "");
    }
    return set_values<std::string>("propSetStringN", h, name, count, strings.data());
}
OfxStatus prop_set_double_n(OfxPropertySetHandle h, const char* name, int count,
                            const double* value) {
    return set_values<double>("propSetDoubleN", h, name, count, value);
}
OfxStatus prop_set_int_n(OfxPropertySetHandle h, const char* name, int count, const int* value) {
    return set_values<int>("propSetIntN", h, name, count, value);
}
OfxStatus prop_get_pointer(OfxPropertySetHandle h, const char* name, int index, void** value) {
    return get_values<void*>("propGetPointer", h, name, index, 1, value);
}
OfxStatus prop_get_string(OfxPropertySetHandle h, const char* name, int index, char** value) {
    return get_values<std::string>("propGetString", h, name, index, 1, value);
}
OfxStatus prop_get_double(OfxPropertySetHandle h, const char* name, int index, double* value) {
    return get_values<double>("propGetDouble", h, name, index, 1, value);
}
OfxStatus prop_get_int(OfxPropertySetHandle h, const char* name, int index, int* value) {
    return get_values<int>("propGetInt", h, name, index, 1, value);
}
OfxStatus prop_get_pointer_n(OfxPropertySetHandle h, const char* name, int count, void** value) {
    return get_values<void*>("propGetPointerN", h, name, 0, count, value);
}
OfxStatus prop_get_string_n(OfxPropertySetHandle h, const char* name, int count, char** value) {
    return get_values<std::string>("propGetStringN", h, name, 0, count, value);
}
OfxStatus prop_get_double_n(OfxPropertySetHandle h, const char* name, int count, double* value) {
    return get_values<double>("propGetDoubleN", h, name, 0, count, value);
}
OfxStatus prop_get_int_n(OfxPropertySetHandle h, const char* name, int count, int* value) {
    return get_values<int>("propGetIntN", h, name, 0, count, value);
}
OfxStatus prop_reset(OfxPropertySetHandle h, const char* name) {
    if (suite_call("propReset", [&] { return detail(name, 0); })) {
        return kOfxStatErrUnknown;
    }
    PropertySet* set = set_of(h);
    if (set == nullptr || name == nullptr) {
        return kOfxStatErrBadHandle;
    }
    std::lock_guard<std::mutex> lock(set->mutex);
    return set->props.count(name) != 0 ? kOfxStatOK : kOfxStatErrUnknown;
}
OfxStatus prop_get_dimension(OfxPropertySetHandle h, const char* name, int* count) {
    if (suite_call("propGetDimension", [&] { return detail(name, 0); })) {
        return kOfxStatErrUnknown;
    }
    PropertySet* set = set_of(h);
    if (set == nullptr || name == nullptr || count == nullptr) {
        return kOfxStatErrBadHandle;
    }
    std::lock_guard<std::mutex> lock(set->mutex);
    const auto it = set->props.find(name);
    if (it == set->props.end()) {
        return kOfxStatErrUnknown;
    }
    *count = it->second.dimension();
    return kOfxStatOK;
}

const OfxPropertySuiteV1 kSuite = {
    prop_set_pointer,  prop_set_string,   prop_set_double,    prop_set_int,      prop_set_pointer_n,
    prop_set_string_n, prop_set_double_n, prop_set_int_n,     prop_get_pointer,  prop_get_string,
    prop_get_double,   prop_get_int,      prop_get_pointer_n, prop_get_string_n, prop_get_double_n,
    prop_get_int_n,    prop_reset,        prop_get_dimension};

} // namespace

int Property::dimension() const {
    switch (type) {
    case PropType::kInt:
        return static_cast<int>(ints.size());
    case PropType::kDouble:
        return static_cast<int>(doubles.size());
    case PropType::kString:
        return static_cast<int>(strings.size());
    case PropType::kPointer:
        break;
    }
    return static_cast<int>(pointers.size());
}

void PropertySet::set_int(const std::string& name, std::vector<int> values) {
    std::lock_guard<std::mutex> lock(mutex);
    Property& p = props[name];
    p = Property{};
    p.type = PropType::kInt;
    p.ints = std::move(values);
}
void PropertySet::set_double(const std::string& name, std::vector<double> values) {
    std::lock_guard<std::mutex> lock(mutex);
    Property& p = props[name];
    p = Property{};
    p.type = PropType::kDouble;
    p.doubles = std::move(values);
}
void PropertySet::set_string(const std::string& name, std::vector<std::string> values) {
    std::lock_guard<std::mutex> lock(mutex);
    Property& p = props[name];
    p = Property{};
    p.type = PropType::kString;
    p.strings = std::move(values);
}
void PropertySet::set_pointer(const std::string& name, std::vector<void*> values) {
    std::lock_guard<std::mutex> lock(mutex);
    Property& p = props[name];
    p = Property{};
    p.type = PropType::kPointer;
    p.pointers = std::move(values);
}

int PropertySet::get_int(const std::string& name, int index, int fallback) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = props.find(name);
    if (it == props.end() || it->second.type != PropType::kInt || index < 0 ||
        static_cast<std::size_t>(index) >= it->second.ints.size()) {
        return fallback;
    }
    return it->second.ints[static_cast<std::size_t>(index)];
}
double PropertySet::get_double(const std::string& name, int index, double fallback) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = props.find(name);
    if (it == props.end() || it->second.type != PropType::kDouble || index < 0 ||
        static_cast<std::size_t>(index) >= it->second.doubles.size()) {
        return fallback;
    }
    return it->second.doubles[static_cast<std::size_t>(index)];
}
std::string PropertySet::get_string(const std::string& name, int index,
                                    const std::string& fallback) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = props.find(name);
    if (it == props.end() || it->second.type != PropType::kString || index < 0 ||
        static_cast<std::size_t>(index) >= it->second.strings.size()) {
        return fallback;
    }
    return it->second.strings[static_cast<std::size_t>(index)];
}
std::vector<std::string> PropertySet::get_strings(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = props.find(name);
    if (it == props.end() || it->second.type != PropType::kString) {
        return {};
    }
    return it->second.strings;
}
bool PropertySet::has(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex);
    return props.count(name) != 0;
}

const OfxPropertySuiteV1* property_suite() {
    return &kSuite;
}

} // namespace pointillo::ofxhost
