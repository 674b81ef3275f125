#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace telvora {

// A movie file that cannot be played; the text is ready for the user.
class EMovieError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An ATASCII movie file opened for playing: a regular file of at most
// kMaxMovieBytes. Opening never waits on the file (a named pipe or a device
// is refused before it is opened); the content is read by ReadAll, on the
// player's own thread. The path is taken as the system's bytes.
class TMovieFile {
public:
    static constexpr std::int64_t kMaxMovieBytes = 256LL * 1024 * 1024;

    // Throws EMovieError when the file cannot be played.
    explicit TMovieFile(const std::string& path);
    ~TMovieFile();
    TMovieFile(const TMovieFile&) = delete;
    TMovieFile& operator=(const TMovieFile&) = delete;

    std::int64_t Size() const { return m_size; }
    // The whole file; throws EMovieError when a read fails.
    std::vector<std::uint8_t> ReadAll();

    // The message for a movie that cannot be opened (also for the callers
    // that report other failures to open one).
    static std::string OpenFailure(const std::string& path, const std::string& reason);

private:
    std::string m_path;
    int m_fd = -1;
    std::int64_t m_size = 0;
};

} // namespace telvora
