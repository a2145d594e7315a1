#include "platform/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
    // before fstat could turn it away. A regular file ignores the flag.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxReadBytes) return false;
    out.clear();
    out.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        // The file may grow while it is read; the limit holds all the same.
        if (out.size() + static_cast<size_t>(n) > kMaxReadBytes) return false;
        out.append(chunk, static_cast<size_t>(n));
    }
}

bool WriteFileAtomically(const std::string& path, std::string_view contents) {
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

    std::string tmp = path + ".XXXXXX";
    Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;
    const bool written = WriteAll(fd.get(), contents) && ::fchmod(fd.get(), mode) == 0 &&
                         ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
    if (!written || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // The rename is durable once the folder is synced; some file systems
    // refuse fsync on a folder, which leaves the new file in place all the same.
    Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}
