#pragma once

// The test host's property sets: every object the plug-in sees (the host,
// descriptors, instances, clips, parameters, images, action arguments) is one
// of these behind an OfxPropertySetHandle.

#include "ofx_api.h"

#include <map>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace pointillo::ofxhost {

enum class PropType { kInt, kDouble, kString, kPointer };

struct Property {
    PropType type = PropType::kInt;
    std::vector<int> ints;
    std::vector<double> doubles;
    std::vector<std::string> strings;
    std::vector<void*> pointers;
    int dimension() const;
};

struct PropertySet {
    // A set that takes any property the plug-in writes (descriptors,
    // outArgs); others refuse unknown names as a strict host does.
    bool open = false;
    std::map<std::string, Property> props;
    mutable std::mutex mutex;

    PropertySet() = default;
    PropertySet(const PropertySet& other) : open(other.open), props(other.props) {}
    PropertySet& operator=(const PropertySet& other) {
        if (this != &other) {
            std::scoped_lock lock(mutex, other.mutex);
            open = other.open;
            props = other.props;
        }
        return *this;
    }

    OfxPropertySetHandle handle() { return reinterpret_cast<OfxPropertySetHandle>(this); }
    static PropertySet* from(OfxPropertySetHandle h) { return reinterpret_cast<PropertySet*>(h); }

    // Host-side writers, which define the property.
    void set_int(const std::string& name, std::vector<int> values);
    void set_double(const std::string& name, std::vector<double> values);
    void set_string(const std::string& name, std::vector<std::string> values);
    void set_pointer(const std::string& name, std::vector<void*> values);
    // Host-side readers; a fallback for a missing property or index.
    int get_int(const std::string& name, int index = 0, int fallback = 0) const;
    double get_double(const std::string& name, int index = 0, double fallback = 0.0) const;
    std::string get_string(const std::string& name, int index = 0,
                           const std::string& fallback = "") const;
    std::vector<std::string> get_strings(const std::string& name) const;
    bool has(const std::string& name) const;
};

// The property suite the plug-in fetches.
const OfxPropertySuiteV1* property_suite();

} // namespace pointillo::ofxhost
