#pragma once

// What the generators in tools/ share: where their output goes and how it is
// written, with a clear message when that fails.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

namespace telvora::tools {

// The output folder from `tool [OUTPUT-DIR]`, created if missing; nothing
// when the arguments are wrong or the folder cannot be made.
inline std::optional<std::filesystem::path> OutputDirectory(const std::string& tool, int argc,
                                                            char** argv,
                                                            const std::filesystem::path& fallback) {
    if (argc > 2) {
        std::cerr << "usage: " << tool << " [OUTPUT-DIR]\n";
        return std::nullopt;
    }
    const std::filesystem::path dir = argc == 2 ? argv[1] : fallback;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::cerr << tool << ": cannot create " << dir.string() << ": " << ec.message() << '\n';
        return std::nullopt;
    }
    return dir;
}

inline bool WriteOutputFile(const std::string& tool, const std::filesystem::path& path,
                            const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file) {
        std::cerr << tool << ": cannot write " << path.string() << '\n';
        return false;
    }
    std::cout << "wrote " << path.string() << " (" << size << " bytes)\n";
    return true;
}

} // namespace telvora::tools
