#include "connection/movie_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace telvora;

namespace {

namespace fs = std::filesystem;

class MovieFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("telvora-movie-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::string Failure(const std::string& path) {
        try {
            TMovieFile file(path);
        } catch (const EMovieError& error) {
            return error.what();
        }
        return {};
    }

    fs::path m_dir;
};

TEST_F(MovieFileTest, ReadsTheWholeFileByteForByte) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    TMovieFile file(Write("all.ata", bytes));
    EXPECT_EQ(file.Size(), 256);
    const auto read = file.ReadAll();
    EXPECT_EQ(std::string(read.begin(), read.end()), bytes);
}

TEST_F(MovieFileTest, AnEmptyFileIsAnEmptyMovie) {
    TMovieFile file(Write("empty.ata", ""));
    EXPECT_TRUE(file.ReadAll().empty());
}

TEST_F(MovieFileTest, ANameThatIsNotUtf8OpensAsTheSystemSpellsIt) {
    const std::string path = Write("\xff\xfe.ata", "AB");
    TMovieFile file(path);
    EXPECT_EQ(file.ReadAll().size(), 2u);
}

TEST_F(MovieFileTest, WhatCannotBePlayedIsRefusedWithItsReason) {
    EXPECT_EQ(Failure((m_dir / "missing.ata").string()), "Cannot open file \"" +
                                                             (m_dir / "missing.ata").string() +
                                                             "\". No such file or directory.");
    EXPECT_EQ(Failure(m_dir.string()),
              "Cannot open file \"" + m_dir.string() + "\". It is a folder.");
}

TEST_F(MovieFileTest, APipeOrADeviceIsRefusedWithoutWaiting) {
    // Opening a named pipe for reading would wait for a writer for ever.
    const std::string pipe = (m_dir / "pipe").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_NE(Failure(pipe).find("It is not a regular file."), std::string::npos);
    EXPECT_NE(Failure("/dev/zero").find("It is not a regular file."), std::string::npos);
}

TEST_F(MovieFileTest, AFileLargerThanTheLimitIsRefused) {
    const std::string path = Write("huge.ata", "");
    // Sparse: no disk space is used.
    fs::resize_file(path, static_cast<std::uintmax_t>(TMovieFile::kMaxMovieBytes) + 1);
    EXPECT_NE(Failure(path).find("It is larger than 256 MB."), std::string::npos);
    fs::resize_file(path, static_cast<std::uintmax_t>(TMovieFile::kMaxMovieBytes));
    EXPECT_EQ(Failure(path), "");
}

} // namespace
