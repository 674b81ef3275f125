// Random movie files: the input is written to a regular file, which must open
// with the input's size and read back byte for byte, and then plays on a
// screen one code at a time, the cursor always staying inside the grid.
// Once per run, things that are not regular files must be refused at once.
#include "connection/movie_file.h"
#include "screen/screen_model.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using telvora::EMovieError;
using telvora::TMovieFile;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "movie file: %s\n", what);
        std::abort();
    }
}

// A folder of this process's own, removed when the run ends.
std::string g_folder;
std::string g_moviePath;

void RemoveFolder() {
    if (g_folder.empty()) {
        return;
    }
    ::unlink(g_moviePath.c_str());
    ::unlink((g_folder + "/pipe").c_str());
    ::rmdir((g_folder + "/folder").c_str());
    ::rmdir(g_folder.c_str());
}

bool Refused(const std::string& path, const std::string& reason) {
    try {
        TMovieFile movie(path);
    } catch (const EMovieError& error) {
        return std::string(error.what()) == TMovieFile::OpenFailure(path, reason);
    }
    return false;
}

void WriteMovie(const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(g_moviePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Check(fd >= 0, "cannot create the movie");
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        Check(n > 0, "cannot write the movie");
        written += static_cast<std::size_t>(n);
    }
    Check(::close(fd) == 0, "cannot close the movie");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/telvora-fuzz-movie-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Check(::mkdtemp(name.data()) != nullptr, "cannot make a folder");
    g_folder = name.data();
    g_moviePath = g_folder + "/movie.ata";
    std::atexit(RemoveFolder);

    // Refused before anything waits on them: a folder, a named pipe without
    // a writer, a device, a name that is not there.
    const std::string folder = g_folder + "/folder";
    Check(::mkdir(folder.c_str(), 0700) == 0, "cannot make a folder");
    Check(Refused(folder, "It is a folder."), "a folder was not refused");
    const std::string pipe = g_folder + "/pipe";
    Check(::mkfifo(pipe.c_str(), 0600) == 0, "cannot make a pipe");
    Check(Refused(pipe, "It is not a regular file."), "a pipe was not refused");
    Check(Refused("/dev/null", "It is not a regular file."), "a device was not refused");
    Check(Refused(g_folder + "/missing", "No such file or directory."),
          "a missing file was not refused");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteMovie(data, size);
    std::vector<std::uint8_t> bytes;
    {
        TMovieFile movie(g_moviePath);
        Check(movie.Size() == static_cast<std::int64_t>(size), "size");
        bytes = movie.ReadAll();
    }
    Check(bytes.size() == size, "length read");
    Check(size == 0 || std::equal(bytes.begin(), bytes.end(), data), "bytes read");

    telvora::ScreenModel screen;
    for (const std::uint8_t code : bytes) {
        screen.WriteByte(code);
        Check(screen.CursorX() >= 1 && screen.CursorX() <= screen.Columns() &&
                  screen.CursorY() >= 1 && screen.CursorY() <= screen.Rows(),
              "cursor outside the grid");
    }
    return 0;
}
