// Writes the Kdenlive descriptions of both plug-ins into a folder, as
// effects/ and transitions/ below it.

#include "kdenlive_xml.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    using pointillo::frei0r::PluginKind;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const PluginKind kind : {PluginKind::kFilter, PluginKind::kTransition}) {
        const std::filesystem::path dir =
            std::filesystem::path(argv[1]) / pointillo::frei0r::kdenlive_folder(kind);
        std::filesystem::create_directories(dir);
        std::ofstream out(dir / pointillo::frei0r::kdenlive_file_name(kind), std::ios::binary);
        out << pointillo::frei0r::kdenlive_description(kind);
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", dir.c_str());
            return 1;
        }
    }
    return 0;
}
