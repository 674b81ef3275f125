#include "common/whole_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace telvora;

namespace {

TEST(WholeFile, WrittenThenReadBackWithEveryByte) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("telvora-whole-file." + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "all.bin").string();
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    WriteWholeFile(path, bytes);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_THROW(ReadWholeFile(path, 100), std::runtime_error) << "larger than allowed";

    // A named pipe is refused at once instead of blocking.
    const std::string pipe = (folder / "pipe").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_THROW(ReadWholeFile(pipe), std::runtime_error);
    try {
        ReadWholeFile((folder / "missing").string());
        ADD_FAILURE() << "a missing file was read";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find("Cannot read"), std::string::npos);
    }
    EXPECT_THROW(WriteWholeFile((folder / "no" / "such.txt").string(), "x"), std::runtime_error);
    std::filesystem::remove_all(folder);
}

} // namespace
