#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

using namespace platform;
using ovtest::TempFolder;

namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

// A tree with every kind of link a walk can meet:
//   real/victim.txt             the file a planted link would aim at
//   safe/ (0755)                rootlink -> ../real, rootfile -> ../real/victim.txt,
//                               userlink and userfile the same but owned by another user,
//                               rootdangling and userdangling -> ../real/made.txt
//   open/ (0777)                rootlink -> ../real
//   sticky/ (01777)             rootlink -> ../real
//   userdir/ (another user's)   rootlink -> ../real
//   loop/ (0755)                a -> b, b -> a
class PlantedLinkTree {
public:
    PlantedLinkTree() {
        m_tmp.makeFolder("real");
        m_tmp.writeFile("real/victim.txt", "precious");
        for (const char* folder : {"safe", "open", "sticky", "userdir", "loop"})
            m_tmp.makeFolder(folder);
        ::chmod(m_tmp.host("open").c_str(), 0777);
        ::chmod(m_tmp.host("sticky").c_str(), 01777);
        link("../real", "safe/rootlink", false);
        link("../real/victim.txt", "safe/rootfile", false);
        link("../real", "safe/userlink", true);
        link("../real/victim.txt", "safe/userfile", true);
        link("../real/made.txt", "safe/rootdangling", false);
        link("../real/made.txt", "safe/userdangling", true);
        link("../real", "open/rootlink", false);
        link("../real", "sticky/rootlink", false);
        link("../real", "userdir/rootlink", false);
        link("b", "loop/a", false);
        link("a", "loop/b", false);
        (void)::lchown(m_tmp.host("userdir").c_str(), kOtherUser, kOtherUser);
    }

    std::u16string windows(const std::string& relative) const {
        return m_tmp.windows(toUtf16(relative));
    }
    bool exists(const std::string& relative) const {
        struct stat st {};
        return ::lstat(m_tmp.host(relative).c_str(), &st) == 0;
    }

private:
    void link(const char* target, const std::string& name, bool otherUser) {
        std::string host = m_tmp.host(name);
        (void)::symlink(target, host.c_str());
        if (otherUser) (void)::lchown(host.c_str(), kOtherUser, kOtherUser);
    }

    TempFolder m_tmp;
};

bool canPlantAsOtherUser() { return ::geteuid() == 0; }

struct DeleteCase {
    const char* path;
    uint32_t code;
    bool victimRemains;
    bool nameRemains;  // the path's own last name
};

std::ostream& operator<<(std::ostream& out, const DeleteCase& c) { return out << c.path; }

class SafeDelete : public testing::TestWithParam<DeleteCase> {};

TEST_P(SafeDelete, FollowsOnlyLinksNoOtherUserCouldPlant) {
    if (!canPlantAsOtherUser()) GTEST_SKIP() << "needs root to make links of another user";
    const DeleteCase& c = GetParam();
    PlantedLinkTree tree;
    EXPECT_EQ(deleteFileNoPlantedLink(tree.windows(c.path)), c.code);
    EXPECT_EQ(tree.exists("real/victim.txt"), c.victimRemains);
    EXPECT_EQ(tree.exists(c.path), c.nameRemains);
}

INSTANTIATE_TEST_SUITE_P(
    Links, SafeDelete,
    testing::Values(DeleteCase{"real/victim.txt", 0, false, false},
                    DeleteCase{"safe/rootlink/victim.txt", 0, false, false},
                    DeleteCase{"sticky/rootlink/victim.txt", 0, false, false},
                    DeleteCase{"safe/userlink/victim.txt", 5, true, true},
                    DeleteCase{"open/rootlink/victim.txt", 5, true, true},
                    DeleteCase{"userdir/rootlink/victim.txt", 5, true, true},
                    DeleteCase{"safe/userfile", 5, true, true},
                    // A safe link as the last name goes itself; its target stays.
                    DeleteCase{"safe/rootfile", 0, true, false},
                    DeleteCase{"real/missing.txt", 2, true, false},
                    DeleteCase{"nofolder/x.txt", 3, true, false},
                    DeleteCase{"loop/a/x.txt", kErrorCantResolveFilename, true, false}));

struct CreateCase {
    const char* path;
    uint32_t code;
    const char* madeAt;  // where the new file must (code 0) or must not appear
};

std::ostream& operator<<(std::ostream& out, const CreateCase& c) { return out << c.path; }

class SafeCreate : public testing::TestWithParam<CreateCase> {};

TEST_P(SafeCreate, MakesNewFilesOnlyAtTheirOwnName) {
    if (!canPlantAsOtherUser()) GTEST_SKIP() << "needs root to make links of another user";
    const CreateCase& c = GetParam();
    PlantedLinkTree tree;
    File file;
    EXPECT_EQ(createFileNoPlantedLink(tree.windows(c.path), kShareRead, file), c.code);
    if (c.code == 0) {
        uint32_t written = 0;
        EXPECT_EQ(file.write("new", 3, written), 0u);
    }
    file.close();
    EXPECT_EQ(tree.exists(c.madeAt), c.code == 0);
    std::string victim;
    ASSERT_EQ(readWholeFile(tree.windows("real/victim.txt"), victim), 0u);
    EXPECT_EQ(victim, "precious");
}

INSTANTIATE_TEST_SUITE_P(
    Links, SafeCreate,
    testing::Values(CreateCase{"real/new.txt", 0, "real/new.txt"},
                    CreateCase{"safe/rootlink/new.txt", 0, "real/new.txt"},
                    CreateCase{"safe/userlink/new.txt", 5, "real/new.txt"},
                    CreateCase{"open/rootlink/new.txt", 5, "real/new.txt"},
                    CreateCase{"real/victim.txt", kErrorFileExists, "real/new.txt"},
                    // A link at the name is never followed to make its target.
                    CreateCase{"safe/rootdangling", kErrorFileExists, "real/made.txt"},
                    CreateCase{"safe/userdangling", 5, "real/made.txt"},
                    CreateCase{"safe/userfile", 5, "real/made.txt"}));

struct OpenCase {
    const char* path;
    uint32_t code;
};

std::ostream& operator<<(std::ostream& out, const OpenCase& c) { return out << c.path; }

class SafeOpen : public testing::TestWithParam<OpenCase> {};

TEST_P(SafeOpen, ReadsOnlyThroughSafeLinks) {
    if (!canPlantAsOtherUser()) GTEST_SKIP() << "needs root to make links of another user";
    PlantedLinkTree tree;
    File file;
    EXPECT_EQ(openFileNoPlantedLink(tree.windows(GetParam().path), kGenericRead, kShareRead, file),
              GetParam().code);
    if (GetParam().code == 0) {
        char buffer[16] = {};
        uint32_t got = 0;
        ASSERT_EQ(file.read(buffer, sizeof buffer, got), 0u);
        EXPECT_EQ(std::string(buffer, got), "precious");
    }
}

INSTANTIATE_TEST_SUITE_P(Links, SafeOpen,
                         testing::Values(OpenCase{"safe/rootfile", 0},
                                         OpenCase{"safe/rootlink/victim.txt", 0},
                                         OpenCase{"safe/userfile", 5},
                                         OpenCase{"userdir/rootlink/victim.txt", 5},
                                         OpenCase{"safe", 5}, OpenCase{"real/none", 2}));

TEST(SafePath, RenameReplacesOnlyWhenAskedAndNeverThroughAPlantedFolder) {
    if (!canPlantAsOtherUser()) GTEST_SKIP() << "needs root to make links of another user";
    PlantedLinkTree tree;
    ASSERT_EQ(writeWholeFile(tree.windows("real/part"), "new content"), 0u);
    EXPECT_EQ(
        renameFileNoPlantedLink(tree.windows("real/part"), tree.windows("real/victim.txt"), false),
        kErrorAlreadyExists);
    EXPECT_EQ(renameFileNoPlantedLink(tree.windows("real/part"),
                                      tree.windows("safe/userlink/moved"), true),
              5u);
    EXPECT_EQ(
        renameFileNoPlantedLink(tree.windows("real/part"), tree.windows("real/victim.txt"), true),
        0u);
    std::string content;
    ASSERT_EQ(readWholeFile(tree.windows("real/victim.txt"), content), 0u);
    EXPECT_EQ(content, "new content");
    EXPECT_FALSE(tree.exists("real/part"));
}

TEST(SafePath, AttributesKeepAFileFromPlainDeletionUntilCleared) {
    TempFolder tmp;
    tmp.writeFile("record", "x");
    std::u16string path = tmp.windows(u"record");
    ASSERT_EQ(setFileAttributesNoPlantedLink(path, kAttrReadOnly | kAttrHidden | kAttrSystem), 0u);
    uint32_t attributes = getFileAttributes(path);
    EXPECT_EQ(attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem),
              kAttrReadOnly | kAttrHidden | kAttrSystem);
    EXPECT_EQ(deleteFileNoPlantedLink(path), 5u);
    ASSERT_EQ(setFileAttributesNoPlantedLink(path, kAttrNormal), 0u);
    EXPECT_EQ(getFileAttributes(path) & kAttrReadOnly, 0u);
    EXPECT_EQ(deleteFileNoPlantedLink(path), 0u);
}

TEST(SafePath, FlushesAnOpenFileAndItsFolder) {
    TempFolder tmp;
    File file;
    ASSERT_EQ(createFileNoPlantedLink(tmp.windows(u"f"), 0, file), 0u);
    EXPECT_EQ(flushFile(file), 0u);
    file.close();
    EXPECT_EQ(flushFile(file), kErrorInvalidHandle);
    EXPECT_EQ(flushFolderNoPlantedLink(tmp.windows()), 0u);
    EXPECT_EQ(flushFolderNoPlantedLink(tmp.windows(u"none")), kErrorPathNotFound);
}

TEST(SafePath, OwnerAndModeGoFromOneFileToAnother) {
    TempFolder tmp;
    tmp.writeFile("from", "x");
    ::chmod(tmp.host("from").c_str(), 0640);
    File from, to;
    ASSERT_EQ(openFileNoPlantedLink(tmp.windows(u"from"), kGenericRead, kShareRead, from), 0u);
    FileOwner owner;
    ASSERT_EQ(from.owner(owner), 0u);
    EXPECT_EQ(owner.mode, 0640u);
    EXPECT_EQ(owner.user, ::geteuid());
    ASSERT_EQ(createFileNoPlantedLink(tmp.windows(u"to"), 0, to, 0600), 0u);
    EXPECT_EQ(to.setOwner(owner), 0u);
    to.close();
    struct stat st {};
    ASSERT_EQ(::stat(tmp.host("to").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SafePath, DeleteHonoursThisProcesssShareModes) {
    TempFolder tmp;
    tmp.writeFile("held", "x");
    File held;
    ASSERT_EQ(
        File::open(tmp.windows(u"held"), kGenericRead, kShareRead, Disposition::OpenExisting, held),
        0u);
    EXPECT_EQ(deleteFileNoPlantedLink(tmp.windows(u"held")), kErrorSharingViolation);
    held.close();
    EXPECT_EQ(deleteFileNoPlantedLink(tmp.windows(u"held")), 0u);
}

}  // namespace
