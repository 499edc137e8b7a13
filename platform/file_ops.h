#pragma once
// The few file operations a crash-safe save needs, behind an interface so that tests can make
// any one of them fail or model a power loss (fake_file_ops.h). Paths are plain strings.

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace quorvane {

class FileOps {
public:
    enum class ReadResult { ok, missing, tooLarge, failed };

    virtual ~FileOps() = default;
    // Reads the whole file into out; tooLarge when it holds more than limit bytes.
    virtual ReadResult ReadFile(const std::string& path, std::string& out, size_t limit) = 0;
    // Creates a new file for writing (fails when the name exists). Returns a descriptor or -1.
    virtual int CreateExclusive(const std::string& path, mode_t mode) = 0;
    virtual bool WriteAll(int fd, const char* data, size_t size) = 0;
    // Flushes the file's data to the disk.
    virtual bool Sync(int fd) = 0;
    virtual bool Close(int fd) = 0;
    // Replaces `to` atomically.
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    // Flushes the folder's entries (creations and renames) to the disk.
    virtual bool SyncDir(const std::string& dir) = 0;
    // Moves `from` to `to` unless `to` exists. Returns 0, EEXIST, or another errno value.
    virtual int RenameNoReplace(const std::string& from, const std::string& to) = 0;
    // True also when there was nothing to remove.
    virtual bool Remove(const std::string& path) = 0;
    // Creates the folder and its missing parents; true when it exists afterwards.
    virtual bool MakeDirs(const std::string& path, mode_t mode) = 0;
};

// The real file system.
class PosixFileOps final : public FileOps {
public:
    ReadResult ReadFile(const std::string& path, std::string& out, size_t limit) override;
    int CreateExclusive(const std::string& path, mode_t mode) override;
    bool WriteAll(int fd, const char* data, size_t size) override;
    bool Sync(int fd) override;
    bool Close(int fd) override;
    bool Rename(const std::string& from, const std::string& to) override;
    bool SyncDir(const std::string& dir) override;
    int RenameNoReplace(const std::string& from, const std::string& to) override;
    bool Remove(const std::string& path) override;
    bool MakeDirs(const std::string& path, mode_t mode) override;
};

// One process-wide instance of the real file system.
FileOps& SystemFileOps();

// The folder part of a path ("." when it has none).
std::string ParentDir(const std::string& path);

}  // namespace quorvane
