#include "pe_reader.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pointillo::test {
namespace {

struct Section {
    uint32_t virtual_address = 0;
    uint32_t virtual_size = 0;
    uint32_t raw_offset = 0;
    uint32_t raw_size = 0;
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> file) : file_(file) {}

    uint16_t u16(std::size_t at) const {
        need(at, 2);
        return static_cast<uint16_t>(file_[at] | file_[at + 1] << 8);
    }
    uint32_t u32(std::size_t at) const {
        need(at, 4);
        return static_cast<uint32_t>(file_[at]) | static_cast<uint32_t>(file_[at + 1]) << 8 |
               static_cast<uint32_t>(file_[at + 2]) << 16 |
               static_cast<uint32_t>(file_[at + 3]) << 24;
    }
    std::string c_string(std::size_t at) const {
        std::string text;
        for (;; ++at) {
            need(at, 1);
            if (file_[at] == 0) {
                return text;
            }
            text.push_back(static_cast<char>(file_[at]));
        }
    }
    std::vector<uint8_t> bytes(std::size_t at, std::size_t count) const {
        need(at, count);
        return {file_.begin() + static_cast<std::ptrdiff_t>(at),
                file_.begin() + static_cast<std::ptrdiff_t>(at + count)};
    }

    void add_section(Section s) { sections_.push_back(s); }

    // File offset of a relative virtual address.
    std::size_t at_rva(uint32_t rva) const {
        for (const Section& s : sections_) {
            const uint32_t size = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
            if (rva >= s.virtual_address && rva - s.virtual_address < size &&
                rva - s.virtual_address < s.raw_size) {
                return std::size_t{s.raw_offset} + (rva - s.virtual_address);
            }
        }
        throw std::runtime_error("address " + std::to_string(rva) + " is in no section");
    }

  private:
    void need(std::size_t at, std::size_t count) const {
        if (at > file_.size() || file_.size() - at < count) {
            throw std::runtime_error("read past the end of the file at " + std::to_string(at));
        }
    }

    std::span<const uint8_t> file_;
    std::vector<Section> sections_;
};

void read_exports(const Reader& r, uint32_t rva, PeModule& pe) {
    const std::size_t dir = r.at_rva(rva);
    pe.export_count = r.u32(dir + 20); // NumberOfFunctions
    const uint32_t names = r.u32(dir + 24);
    const uint32_t name_table = r.u32(dir + 32);
    for (uint32_t i = 0; i < names; ++i) {
        pe.exports.push_back(r.c_string(r.at_rva(r.u32(r.at_rva(name_table) + 4 * i))));
    }
}

void read_imports(const Reader& r, uint32_t rva, PeModule& pe) {
    // Descriptors of 20 bytes up to an all-zero one; the name is at 12.
    for (std::size_t at = r.at_rva(rva);; at += 20) {
        const uint32_t lookup = r.u32(at);
        const uint32_t name = r.u32(at + 12);
        const uint32_t thunks = r.u32(at + 16);
        if (lookup == 0 && name == 0 && thunks == 0) {
            return;
        }
        pe.imports.push_back(r.c_string(r.at_rva(name)));
    }
}

// Resource names: high bit set is an offset to a counted UTF-16 string.
std::string resource_name(const Reader& r, std::size_t base, uint32_t name) {
    if ((name & 0x80000000u) == 0) {
        return "#" + std::to_string(name);
    }
    const std::size_t at = base + (name & 0x7FFFFFFFu);
    const uint16_t length = r.u16(at);
    std::string text;
    for (uint16_t i = 0; i < length; ++i) {
        const uint16_t c = r.u16(at + 2 + 2u * i);
        text.push_back(c < 128 ? static_cast<char>(c) : '?');
    }
    return text;
}

// Three levels: type, name, language; then a data entry.
void read_resources(const Reader& r, uint32_t rva, PeModule& pe) {
    const std::size_t base = r.at_rva(rva);
    auto entries = [&](std::size_t dir) {
        std::vector<std::pair<uint32_t, uint32_t>> list;
        const uint32_t count = uint32_t{r.u16(dir + 12)} + r.u16(dir + 14);
        for (uint32_t i = 0; i < count; ++i) {
            list.emplace_back(r.u32(dir + 16 + 8 * i), r.u32(dir + 20 + 8 * i));
        }
        return list;
    };
    auto subdirectory = [&](uint32_t offset) {
        if ((offset & 0x80000000u) == 0) {
            throw std::runtime_error("resource tree ends early");
        }
        return base + (offset & 0x7FFFFFFFu);
    };
    for (const auto& [type, type_dir] : entries(base)) {
        for (const auto& [name, name_dir] : entries(subdirectory(type_dir))) {
            for (const auto& [language, data_entry] : entries(subdirectory(name_dir))) {
                if ((data_entry & 0x80000000u) != 0) {
                    throw std::runtime_error("resource tree deeper than three levels");
                }
                const std::size_t entry = base + data_entry;
                PeResource resource;
                resource.type = resource_name(r, base, type);
                resource.id = (name & 0x80000000u) == 0 ? name : 0;
                resource.language = language;
                resource.data = r.bytes(r.at_rva(r.u32(entry)), r.u32(entry + 4));
                pe.resources.push_back(std::move(resource));
            }
        }
    }
}

} // namespace

PeModule read_pe(std::span<const uint8_t> file) {
    Reader r(file);
    if (r.u16(0) != 0x5A4D) { // "MZ"
        throw std::runtime_error("no DOS header");
    }
    const std::size_t pe_at = r.u32(0x3C);
    if (r.u32(pe_at) != 0x00004550) { // "PE\0\0"
        throw std::runtime_error("no PE signature");
    }
    const std::size_t coff = pe_at + 4;
    PeModule pe;
    pe.machine = r.u16(coff);
    const uint16_t section_count = r.u16(coff + 2);
    const uint16_t optional_size = r.u16(coff + 16);
    pe.is_dll = (r.u16(coff + 18) & 0x2000) != 0;
    const std::size_t optional = coff + 20;
    if (r.u16(optional) != 0x20B) {
        throw std::runtime_error("not a PE32+ (64-bit) image");
    }
    const uint32_t directory_count = r.u32(optional + 108);
    const std::size_t directories = optional + 112;
    const std::size_t section_table = optional + optional_size;
    for (uint16_t i = 0; i < section_count; ++i) {
        const std::size_t s = section_table + 40u * i;
        r.add_section(Section{r.u32(s + 12), r.u32(s + 8), r.u32(s + 20), r.u32(s + 16)});
    }
    auto directory = [&](uint32_t index) -> uint32_t {
        return index < directory_count ? r.u32(directories + 8u * index) : 0;
    };
    if (directory(0) != 0) {
        read_exports(r, directory(0), pe);
    }
    if (directory(1) != 0) {
        read_imports(r, directory(1), pe);
    }
    if (directory(2) != 0) {
        read_resources(r, directory(2), pe);
    }
    return pe;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace pointillo::test
