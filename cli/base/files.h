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

// Makes `folder` (with its parents) when it is missing and checks that files
// can be created in it; an empty `folder` is the current one. Throws
// InputError: `where` + ": cannot create the folder" (+ " " and the folder
// when `name_folder`) + ": " and the reason, or `where` + ": " +
// `write_text` + ": " and the reason.
void make_writable_folder(const std::filesystem::path& folder, const std::string& where,
                          bool name_folder, const std::string& write_text);

// Writes `bytes` to `path` through a temporary file in the same folder that is
// renamed over `path` at the end, so `path` is either absent or complete.
// Throws RenderFailure.
void write_file_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);

} // namespace pointillo
