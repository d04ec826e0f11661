#include "hostsim/module.h"

#include <stdexcept>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hostsim {
namespace {

#if defined(_WIN32)

void* open_library(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void*>(module);
}

template <typename Fn> Fn find_symbol(void* handle, const char* name) {
    FARPROC proc = GetProcAddress(static_cast<HMODULE>(handle), name);
    // Through the generic function pointer type, which casts to any other.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

void close_library(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

std::filesystem::path program_file() {
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
    return std::filesystem::path(buffer);
}

#else

void* open_library(const std::string& path, std::string& error) {
    // RTLD_NOW: an unresolved symbol fails here, not in the middle of a test.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* message = dlerror();
        error = message != nullptr ? message : "dlopen failed";
    }
    return handle;
}

template <typename Fn> Fn find_symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

void close_library(void* handle) {
    dlclose(handle);
}

std::filesystem::path program_file() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self;
}

#endif

} // namespace

Module::Module(const std::string& path) : path_(path) {
    std::string error;
    handle_ = open_library(path, error);
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load the effect module " + path + ": " + error);
    }
    effect_main_ = find_symbol<EffectMainFn>(handle_, "EffectMain");
    plugin_data_entry_ = find_symbol<PluginDataEntryFn>(handle_, "PluginDataEntryFunction2");
    if (effect_main_ == nullptr || plugin_data_entry_ == nullptr) {
        close_library(handle_);
        handle_ = nullptr;
        throw std::runtime_error("the effect module " + path + " lacks an entry point");
    }
}

Module::~Module() {
    if (handle_ != nullptr) {
        close_library(handle_);
    }
}

std::filesystem::path program_folder() {
    return program_file().parent_path();
}

} // namespace hostsim
