#include "TestFiles.h"

#include <QDir>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <sys/mount.h>

namespace {

// A tree to remove, `inner`, whose folder `deep` holds a file and a folder a test closed.
struct Tree {
    QTemporaryDir dir;
    QString inner = dir.filePath(QStringLiteral("inner"));
    QString deep = inner + QStringLiteral("/deep");
    Tree() {
        QDir().mkpath(deep + QStringLiteral("/closed"));
        TestFiles::writeFile(deep + QStringLiteral("/own"), "own");
        ::chmod(QFile::encodeName(deep + QStringLiteral("/closed")).constData(), 0);
    }
};

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace

// Links inside the tree, to a folder and to a file outside it, are removed as links: what they
// point to stays. The tree's own files and a folder a test closed go.
TEST(TestFilesTest, RemoveTreeRemovesLinksNotWhatTheyPointTo) {
    QTemporaryDir outside;
    TestFiles::writeFile(outside.filePath(QStringLiteral("kept")), "kept");
    Tree tree;
    ASSERT_TRUE(QFile::link(outside.path(), tree.deep + QStringLiteral("/folder")));
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("kept")), tree.deep + QStringLiteral("/file")));
    TestFiles::removeTree(tree.inner);
    EXPECT_FALSE(QFileInfo::exists(tree.inner));
    EXPECT_EQ(filesIn(outside), QStringList{QStringLiteral("kept")});
    EXPECT_EQ(TestFiles::readFile(outside.filePath(QStringLiteral("kept"))), "kept");
}

// A file system mounted inside the tree keeps its files and is named; the rest of the tree goes.
TEST(TestFilesTest, RemoveTreeLeavesAMountInsideAlone) {
    QTemporaryDir outside;
    TestFiles::writeFile(outside.filePath(QStringLiteral("kept")), "kept");
    Tree tree;
    const QString point = tree.deep + QStringLiteral("/mounted");
    QDir().mkpath(point);
    if (::mount(QFile::encodeName(outside.path()).constData(), QFile::encodeName(point).constData(), nullptr,
                MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "a bind mount needs root";
    }
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(point).constData(), MNT_DETACH); });
    testing::internal::CaptureStderr();
    TestFiles::removeTree(tree.inner);
    const std::string named = testing::internal::GetCapturedStderr();
    EXPECT_EQ(filesIn(outside), QStringList{QStringLiteral("kept")});
    EXPECT_NE(named.find(QFile::encodeName(point).toStdString()), std::string::npos) << named;
    EXPECT_EQ(QDir(tree.deep).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("mounted")});
}
