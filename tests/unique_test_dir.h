#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace kestrum::test {

// Creates a directory of its own under the system's temporary directory, named
// prefix-XXXXXXXX; empty when none could be made.
inline std::string MakeUniqueTestDir(const std::string& prefix)
{
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path dir = base / (prefix + "-" + std::to_string(random() % 100000000));
        std::error_code error;
        if (std::filesystem::create_directory(dir, error))
            return dir.string();
    }
    return "";
}

} // namespace kestrum::test
