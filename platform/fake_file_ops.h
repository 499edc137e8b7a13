#pragma once
// Test doubles for FileOps.
//
// MemFileOps is an in-memory file system that knows what a power loss keeps: a file's data is
// durable once the file is synced, a folder's entries (creations, renames, removals) once the
// folder is synced. Crash() drops everything else, as the disk would after the power went.
//
// FaultyFileOps forwards to another FileOps and fails the k-th operation (counting from 1):
// either that one alone (an error the caller must handle) or that one and every later one (the
// process died there; a half-done write leaves half its bytes).

#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/file_ops.h"

namespace quorvane {

class MemFileOps final : public FileOps {
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

    // The power goes: unsynced data and folder entries are lost, open files are gone.
    void Crash();
    // Test set-up: a file that is already on the disk (durable).
    void PutDurable(const std::string& path, const std::string& content);
    std::set<std::string> Names() const;
    mode_t ModeOf(const std::string& path) const;

private:
    struct Inode {
        std::string data;
        std::string durable;
        mode_t mode = 0;
    };
    using Names_ = std::map<std::string, std::shared_ptr<Inode>>;
    Names_ names_;    // what a reader sees now
    Names_ durable_;  // what a reader sees after a crash
    std::set<std::string> dirs_;
    std::map<int, std::shared_ptr<Inode>> open_;
    int nextFd_ = 100;
};

class FaultyFileOps final : public FileOps {
public:
    enum class Mode { failOne, dieAt };
    explicit FaultyFileOps(FileOps& inner) : inner_(inner) {}

    // Fails operation number k (1-based); 0 fails nothing.
    void FailAt(int k, Mode mode) {
        failAt_ = k;
        mode_ = mode;
        count_ = 0;
        tripped_ = false;
    }
    int count() const { return count_; }
    bool tripped() const { return tripped_; }

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

private:
    // Counts the operation; true when it must fail.
    bool Fails();
    FileOps& inner_;
    int failAt_ = 0;
    Mode mode_ = Mode::failOne;
    int count_ = 0;
    bool tripped_ = false;
};

}  // namespace quorvane
