#include "cli/base/files.h"

#include "cli/base/errors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace pointillo {

namespace {

std::string temporary_name(const std::filesystem::path& path) {
    // Unique per process; a frame is written by one thread only. The host name
    // keeps machines that share a folder apart.
    char host[64] = "host";
    gethostname(host, sizeof host - 1);
    host[sizeof host - 1] = '\0';
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // "." + std::string.
    std::string name = ".";
    name += path.filename().string();
    name += ".";
    name += host;
    name += ".";
    name += std::to_string(getpid());
    name += ".tmp";
    return name;
}

} // namespace

std::vector<uint8_t> read_file_bytes(const std::filesystem::path& path, std::uintmax_t limit,
                                     std::string& error) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        error = "no such file";
        return {};
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "not a regular file";
        return {};
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = ec.message();
        return {};
    }
    if (size > limit) {
        error = "larger than " + std::to_string(limit >> 20) + " MiB";
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot be opened for reading";
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (in.gcount() != static_cast<std::streamsize>(size)) {
        error = "could not be read completely";
        return {};
    }
    return bytes;
}

std::filesystem::path temporary_path_for(const std::filesystem::path& path) {
    return path.parent_path() / temporary_name(path);
}

std::string folder_write_problem(const std::filesystem::path& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir.empty() ? "." : dir, ec)) {
        return "no such folder";
    }
    // Permission bits do not tell (root, read-only mounts, network shares):
    // try it.
    const std::filesystem::path probe =
        (dir.empty() ? std::filesystem::path(".") : dir) / temporary_name("write-check");
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return std::strerror(errno);
    }
    ::close(fd);
    std::filesystem::remove(probe, ec);
    return {};
}

void make_writable_folder(const std::filesystem::path& folder, const std::string& where,
                          bool name_folder, const std::string& write_text) {
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            std::string message = where;
            message.append(": cannot create the folder");
            if (name_folder) {
                message.append(" ").append(folder.string());
            }
            throw InputError(message.append(": ").append(ec.message()));
        }
    }
    if (const std::string problem = folder_write_problem(folder); !problem.empty()) {
        throw InputError(where + ": " + write_text + ": " + problem);
    }
}

void write_file_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    const std::filesystem::path temporary = temporary_path_for(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw RenderFailure("cannot create " + temporary.string() + ": " + std::strerror(errno));
    }
    size_t written = 0;
    int error = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    std::error_code ec;
    if (error == 0) {
        std::filesystem::rename(temporary, path, ec);
        if (!ec) {
            return;
        }
    }
    std::filesystem::remove(temporary, ec);
    throw RenderFailure("cannot write " + path.string() + ": " +
                        (error != 0 ? std::strerror(error) : "rename failed"));
}

} // namespace pointillo
