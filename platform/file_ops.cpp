#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace quorvane {

FileOps::ReadResult PosixFileOps::ReadFile(const std::string& path, std::string& out, size_t limit) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::failed;
    }
    if (static_cast<unsigned long long>(st.st_size) > limit) {
        ::close(fd);
        return ReadResult::tooLarge;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    // The file may change size while it is read: read to its end, within the limit.
    for (;;) {
        if (got == out.size()) {
            if (out.size() >= limit) break;
            out.resize(std::min(limit, out.size() + 65536));
        }
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            out.clear();
            return ReadResult::failed;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    char probe;
    const bool more = got >= limit && ::read(fd, &probe, 1) == 1;
    ::close(fd);
    out.resize(got);
    if (more) {
        out.clear();
        return ReadResult::tooLarge;
    }
    return ReadResult::ok;
}

int PosixFileOps::CreateExclusive(const std::string& path, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool PosixFileOps::WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool PosixFileOps::Sync(int fd) { return ::fsync(fd) == 0; }

bool PosixFileOps::Close(int fd) { return ::close(fd) == 0; }

bool PosixFileOps::Rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixFileOps::SyncDir(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool PosixFileOps::Remove(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

int PosixFileOps::RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a hard link refuses an existing name as well.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

bool PosixFileOps::MakeDirs(const std::string& path, mode_t mode) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = ParentDir(path);
    if (parent != path && parent != "." && parent != "/" && !MakeDirs(parent, mode)) return false;
    return ::mkdir(path.c_str(), mode) == 0 || (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

FileOps& SystemFileOps() {
    static PosixFileOps ops;
    return ops;
}

std::string ParentDir(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace quorvane
