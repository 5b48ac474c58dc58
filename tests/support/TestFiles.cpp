#include "TestFiles.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace TestFiles {

namespace {

// What an open name is: its type and permissions, its owner, and the mount it is on (the device
// alone where the kernel does not tell the mount: bind mounts of one file system share it).
struct Entry {
    mode_t mode = 0;
    uid_t owner = 0;
    dev_t device = 0;
    std::uint64_t mount = 0;
    bool sameMount(const Entry& other) const { return device == other.device && mount == other.mount; }
};

std::optional<Entry> describe(int fd) {
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW,
                STATX_TYPE | STATX_MODE | STATX_UID | STATX_MNT_ID, &info) != 0) {
        return std::nullopt;
    }
    return Entry{info.stx_mode, info.stx_uid, makedev(info.stx_dev_major, info.stx_dev_minor),
                 (info.stx_mask & STATX_MNT_ID) != 0 ? info.stx_mnt_id : 0};
}

void removeAt(int parent, const std::string& name, const std::optional<Entry>& home,
              const std::string& shown);

// Removes what the folder open as `folder` (an O_PATH descriptor) holds.
void empty(int folder, const Entry& entry, const Entry& home, const std::string& shown) {
    if (entry.owner == ::geteuid() && (entry.mode & S_IRWXU) != S_IRWXU) { // a folder a test closed
        // The descriptor's own inode: chmod on its /proc name follows no name of the tree.
        ::chmod(("/proc/self/fd/" + std::to_string(folder)).c_str(), (entry.mode | S_IRWXU) & 07777);
    }
    const int readable = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* stream = readable < 0 ? nullptr : ::fdopendir(readable);
    if (stream == nullptr) {
        if (readable >= 0) {
            ::close(readable);
        }
        return;
    }
    std::vector<std::string> names; // all first: removing while reading may skip names
    while (const dirent* child = ::readdir(stream)) {
        const std::string name = child->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    for (const std::string& name : names) {
        removeAt(::dirfd(stream), name, home, shown + "/" + name);
    }
    ::closedir(stream);
}

// Removes the name `name` of the folder open as `parent`, and all it holds where it is a folder
// on `home`'s mount (or, with none, the start of the removal).
void removeAt(int parent, const std::string& name, const std::optional<Entry>& home,
              const std::string& shown) {
    // A link is opened as itself: its type tells it is no folder.
    const int fd = ::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const std::optional<Entry> entry = describe(fd);
    const bool folder = entry && S_ISDIR(entry->mode);
    if (folder && home && !entry->sameMount(*home)) {
        std::fprintf(stderr, "Left alone, another file system is mounted there: %s\n", shown.c_str());
        ::close(fd);
        return;
    }
    if (folder) {
        empty(fd, *entry, home ? *home : *entry, shown);
    }
    ::close(fd);
    ::unlinkat(parent, name.c_str(), folder ? AT_REMOVEDIR : 0);
}

} // namespace

void removeTree(const std::filesystem::path& path) {
    std::filesystem::path tree = path.lexically_normal();
    if (!tree.has_filename()) {
        tree = tree.parent_path(); // "folder/"
    }
    const std::filesystem::path parent = tree.parent_path();
    const int fd = tree.has_filename()
                       ? ::open(parent.empty() ? "." : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)
                       : -1;
    if (fd >= 0) {
        removeAt(fd, tree.filename().string(), std::nullopt, tree.string());
        ::close(fd);
    }
}

} // namespace TestFiles
