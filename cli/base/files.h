#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace pointillo {

// The bytes of a regular file of at most `limit` bytes. On failure returns
// nothing and sets `error` to the reason ("no such file", "not a regular
// file", ...); `error` is left empty on success.
std::vector<uint8_t> read_file_bytes(const std::filesystem::path& path, std::uintmax_t limit,
                                     std::string& error);

// A hidden name beside `path` for writing it before it is complete:
// ".NAME.HOST.PID.tmp", unique per machine and process.
std::filesystem::path temporary_path_for(const std::filesystem::path& path);

// Why files cannot be created in folder `dir` ("Permission denied", "no such
// folder"), found by creating and removing a file there; empty when they can.
std::string folder_write_problem(const std::filesystem::path& dir);

// Writes `bytes` to `path` through a temporary file in the same folder that is
// renamed over `path` at the end, so `path` is either absent or complete.
// Throws RenderFailure.
void write_file_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);

} // namespace pointillo
