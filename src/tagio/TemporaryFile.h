#pragma once

#include <QByteArray>
#include <QString>

// The replacement file of a write while it is written, in the target's
// folder. Unnamed (made with O_TMPFILE) where the file system allows it, so
// that a crash leaves nothing behind; it gets its hidden name (see name) only
// right before the rename. While it has a name it is locked, so that a write
// killed meanwhile leaves a file no one holds, which LeftoverSweep removes.
// Closed, and removed when named, unless the rename took it over (see remove
// for a removal that is refused).
//
// One object belongs to one write on one thread; objects of different writes
// (of this process or of others) may work in one folder at the same time.
// Unnamed files need O_TMPFILE and /proc (the name is given through
// /proc/self/fd); without either the file is named from the start.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    // Makes the file that is to replace `target` in `folder`: unnamed when
    // `unnamed` and the file system allows it, else as `path` (which must not
    // exist), and locks it. False (errno set) when neither can be made or no
    // descriptor is left for the lock.
    bool create(const QByteArray& folder, const QByteArray& path, bool unnamed, const QByteArray& target);

    int fd() const { return m_fd; }
    bool named() const { return !m_path.isEmpty(); }
    // Gives an unnamed file the name `path`; false (errno set) when refused.
    bool link(const QByteArray& path);
    // Closes the file; false (with errno set) when the close reported an error.
    bool close();
    // The rename took the file over: it is the user's file now, no longer locked.
    void keep();

    // The hidden name for a file name: "." + name + ".tmp-" + uuid, with the
    // name shortened (at a character boundary) so that the whole name stays
    // within 255 bytes. A write uses an upper-case uuid.
    static QByteArray name(const QByteArray& encodedFileName, const QString& uuidText);
    // Whether `name` is one that name() gives with an upper-case uuid.
    static bool isName(const char* name);
    // The file name whose hidden name (see name) `name` is; empty where name()
    // may have shortened it, as then it cannot be told.
    static QByteArray targetOf(const QByteArray& name);
    // Removes the temporary file `name` in `folder` (a descriptor, or AT_FDCWD
    // for paths), which `open` (-1: none) is open on and which was made to
    // replace `target` (empty: not known); true when it is gone. A removal
    // refused for lack of room (a full ntfs-3g refuses one) is tried again once
    // the file is emptied, but only where it surely is nothing but ours: a
    // single name, and not `target`'s (a rename reported as failed may have
    // gone through, and then the file is the user's). Otherwise it is left for
    // the next write's sweep.
    static bool remove(int folder, const QByteArray& name, int open, const QByteArray& target);

    static constexpr int maxNameBytes = 255;

private:
    bool lock();
    QByteArray selfPath() const;
    void unlock();

    QByteArray m_path; // empty while the file has no name
    QByteArray m_target;
    int m_fd = -1;
    int m_lock = -1;
    bool m_kept = false;
};
