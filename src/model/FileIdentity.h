#pragma once

#include <QString>

#include <cstdint>
#include <optional>

struct stat;

// The kind of file system that holds a file, as far as writes depend on it.
struct FileSystemKind {
    std::uint32_t magic = 0; // statfs's f_type
    // The major of the device number its files carry: a block device's for a
    // file system mounted from one, 0 (anonymous) for most others.
    std::uint32_t deviceMajor = 0;

    // Of the file system holding the open file `fd`, or the file at `native`
    // (through links); no value when it cannot be asked.
    static std::optional<FileSystemKind> of(int fd);
    static std::optional<FileSystemKind> ofPath(const QByteArray& native);
};

// What identifies a file on disk at one moment: which file the path names
// (device and inode) and its state (size, modification time). A write
// compares it with the file it is about to replace and refuses when the path
// no longer names that file in that state.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    qint64 size = 0;
    qint64 modifiedSeconds = 0;
    qint64 modifiedNanoseconds = 0;
    // The path was a symbolic link (one the user dropped or chose) and the
    // values are those of the file it points to, which is what a write replaces.
    bool throughLink = false;
    // False where the file system makes inode numbers up each time it loads a
    // file (see keepsInodeNumbers): the inode then tells nothing about which
    // file it is, and only device, size and modification time are compared.
    bool inodeKept = true;

    // The same file in the same state; the inode counts only where both keep it.
    bool operator==(const FileIdentity& other) const;

    static FileIdentity of(const struct stat& status, bool throughLink);
    // Whether a file system keeps a file's inode number for as long as the
    // file exists. FAT and exFAT make one up each time they load a file, and
    // so does an SMB share mounted without the server's numbers (which
    // statfs cannot tell apart from one with them).
    static bool keepsInodeNumbers(const FileSystemKind& fileSystem);
    // The identity of the open file `fd` whose status is `status`; where its
    // file system cannot be asked, its inode counts as kept.
    static FileIdentity of(int fd, const struct stat& status, bool throughLink);
    // The path's own status (lstat); for a symbolic link, that of its target.
    // No value when either is missing or the path names no regular file.
    static std::optional<FileIdentity> ofPath(const QString& path);
};
