#pragma once

// A frei0r plug-in loaded as a host loads it: by dlopen, through its entry
// points only.

#include <cstdint>
#include <dlfcn.h>

// frei0r.h is a C header without its own linkage block.
extern "C" {
#include <frei0r.h>
}
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace pointillo::test {

struct LoadedPlugin {
    void* handle = nullptr;
    decltype(&f0r_init) init = nullptr;
    decltype(&f0r_deinit) deinit = nullptr;
    decltype(&f0r_get_plugin_info) plugin_info = nullptr;
    decltype(&f0r_get_param_info) param_info = nullptr;
    decltype(&f0r_construct) construct = nullptr;
    decltype(&f0r_destruct) destruct = nullptr;
    decltype(&f0r_set_param_value) set_param = nullptr;
    decltype(&f0r_get_param_value) get_param = nullptr;
    decltype(&f0r_update) update = nullptr;
    decltype(&f0r_update2) update2 = nullptr;

    explicit LoadedPlugin(const std::string& path) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw std::runtime_error("cannot load " + path + ": " + dlerror());
        }
        find(init, "f0r_init");
        find(deinit, "f0r_deinit");
        find(plugin_info, "f0r_get_plugin_info");
        find(param_info, "f0r_get_param_info");
        find(construct, "f0r_construct");
        find(destruct, "f0r_destruct");
        find(set_param, "f0r_set_param_value");
        find(get_param, "f0r_get_param_value");
        update = reinterpret_cast<decltype(update)>(dlsym(handle, "f0r_update"));
        update2 = reinterpret_cast<decltype(update2)>(dlsym(handle, "f0r_update2"));
        init();
    }
    ~LoadedPlugin() {
        deinit();
        dlclose(handle);
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    // The index of the parameter named `name`; fails the test when missing.
    int param_index(const std::string& name) const {
        f0r_plugin_info_t info{};
        plugin_info(&info);
        for (int i = 0; i < info.num_params; ++i) {
            f0r_param_info_t p{};
            param_info(&p, i);
            if (name == p.name) {
                return i;
            }
        }
        ADD_FAILURE() << "no parameter " << name;
        return -1;
    }

    void set(f0r_instance_t instance, const std::string& name, double value) const {
        set_param(instance, &value, param_index(name));
    }
    void set(f0r_instance_t instance, const std::string& name, f0r_param_color_t value) const {
        set_param(instance, &value, param_index(name));
    }

  private:
    template <typename F> void find(F& fn, const char* name) {
        fn = reinterpret_cast<F>(dlsym(handle, name));
        if (fn == nullptr) {
            throw std::runtime_error(std::string("missing ") + name);
        }
    }
};

} // namespace pointillo::test
