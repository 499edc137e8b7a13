#include "platform/fake_file_ops.h"

#include <cerrno>

namespace quorvane {

// --- MemFileOps -------------------------------------------------------------------------------

FileOps::ReadResult MemFileOps::ReadFile(const std::string& path, std::string& out, size_t limit) {
    out.clear();
    auto it = names_.find(path);
    if (it == names_.end()) return ReadResult::missing;
    if (it->second->data.size() > limit) return ReadResult::tooLarge;
    out = it->second->data;
    return ReadResult::ok;
}

int MemFileOps::CreateExclusive(const std::string& path, mode_t mode) {
    if (names_.contains(path) || !dirs_.contains(ParentDir(path))) return -1;
    auto inode = std::make_shared<Inode>();
    inode->mode = mode;
    names_[path] = inode;
    open_[nextFd_] = inode;
    return nextFd_++;
}

bool MemFileOps::WriteAll(int fd, const char* data, size_t size) {
    auto it = open_.find(fd);
    if (it == open_.end()) return false;
    it->second->data.append(data, size);
    return true;
}

bool MemFileOps::Sync(int fd) {
    auto it = open_.find(fd);
    if (it == open_.end()) return false;
    it->second->durable = it->second->data;
    return true;
}

bool MemFileOps::Close(int fd) { return open_.erase(fd) == 1; }

bool MemFileOps::Rename(const std::string& from, const std::string& to) {
    auto it = names_.find(from);
    if (it == names_.end() || !dirs_.contains(ParentDir(to))) return false;
    auto inode = it->second;
    names_.erase(it);
    names_[to] = inode;
    return true;
}

bool MemFileOps::SyncDir(const std::string& dir) {
    if (!dirs_.contains(dir)) return false;
    for (auto it = durable_.begin(); it != durable_.end();) {
        it = ParentDir(it->first) == dir ? durable_.erase(it) : std::next(it);
    }
    for (const auto& [name, inode] : names_)
        if (ParentDir(name) == dir) durable_[name] = inode;
    return true;
}

bool MemFileOps::Remove(const std::string& path) {
    names_.erase(path);
    return true;
}

int MemFileOps::RenameNoReplace(const std::string& from, const std::string& to) {
    if (names_.contains(to) || dirs_.contains(to)) return EEXIST;
    return Rename(from, to) ? 0 : ENOENT;
}

bool MemFileOps::MakeDirs(const std::string& path, mode_t) {
    // Folders are taken as durable at once: the saves under test never create their folder.
    for (std::string p = path; p != "." && p != "/" && !p.empty(); p = ParentDir(p)) dirs_.insert(p);
    return true;
}

void MemFileOps::Crash() {
    open_.clear();
    names_ = durable_;
    for (auto& [name, inode] : names_) inode->data = inode->durable;
}

void MemFileOps::PutDurable(const std::string& path, const std::string& content) {
    MakeDirs(ParentDir(path), 0700);
    auto inode = std::make_shared<Inode>();
    inode->data = inode->durable = content;
    inode->mode = 0600;
    names_[path] = durable_[path] = inode;
}

std::set<std::string> MemFileOps::Names() const {
    std::set<std::string> out;
    for (const auto& [name, inode] : names_) out.insert(name);
    return out;
}

mode_t MemFileOps::ModeOf(const std::string& path) const {
    auto it = names_.find(path);
    return it == names_.end() ? 0 : it->second->mode;
}

// --- FaultyFileOps ----------------------------------------------------------------------------

bool FaultyFileOps::Fails() {
    ++count_;
    if (tripped_ && mode_ == Mode::dieAt) return true;
    if (failAt_ != 0 && count_ == failAt_) {
        tripped_ = true;
        return true;
    }
    return false;
}

FileOps::ReadResult FaultyFileOps::ReadFile(const std::string& path, std::string& out, size_t limit) {
    if (Fails()) {
        out.clear();
        return ReadResult::failed;
    }
    return inner_.ReadFile(path, out, limit);
}

int FaultyFileOps::CreateExclusive(const std::string& path, mode_t mode) {
    return Fails() ? -1 : inner_.CreateExclusive(path, mode);
}

bool FaultyFileOps::WriteAll(int fd, const char* data, size_t size) {
    if (Fails()) {
        if (mode_ == Mode::dieAt && count_ == failAt_) inner_.WriteAll(fd, data, size / 2);
        return false;
    }
    return inner_.WriteAll(fd, data, size);
}

bool FaultyFileOps::Sync(int fd) { return !Fails() && inner_.Sync(fd); }

bool FaultyFileOps::Close(int fd) {
    // A failed close still releases the descriptor, as close(2) does (and as a dying process would).
    if (Fails()) {
        inner_.Close(fd);
        return false;
    }
    return inner_.Close(fd);
}

bool FaultyFileOps::Rename(const std::string& from, const std::string& to) {
    return !Fails() && inner_.Rename(from, to);
}

bool FaultyFileOps::SyncDir(const std::string& dir) { return !Fails() && inner_.SyncDir(dir); }

bool FaultyFileOps::Remove(const std::string& path) { return !Fails() && inner_.Remove(path); }

int FaultyFileOps::RenameNoReplace(const std::string& from, const std::string& to) {
    return Fails() ? EIO : inner_.RenameNoReplace(from, to);
}

bool FaultyFileOps::MakeDirs(const std::string& path, mode_t mode) { return !Fails() && inner_.MakeDirs(path, mode); }

}  // namespace quorvane
