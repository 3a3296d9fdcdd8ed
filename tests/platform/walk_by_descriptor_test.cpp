// Opening what a listing saw inside the folder it was listed in: a link or
// another folder swapped in after the listing is never entered, a link
// swapped in for a file is never followed, and nothing but a regular file is
// opened for its content.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;

// The entry of a folder's listing with this host name.
bool ListedEntry(platform::FindFile& find, platform::FindData first, const std::string& name,
                 platform::FindData& out) {
    do {
        if (first.hostName == name) {
            out = first;
            return true;
        }
    } while (find.next(first) == 0);
    return false;
}

class WalkByDescriptor : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_FALSE(m_tmp.host().empty());
        m_tmp.makeFolder("tree");
        m_tmp.makeFolder("tree/sub");
        m_tmp.writeFile("tree/sub/inside.txt", "inside");
        m_tmp.writeFile("tree/file.txt", "the listed file");
        m_tmp.makeFolder("outside");
        m_tmp.writeFile("outside/secret.txt", "outside the tree");
        ASSERT_EQ(platform::FindFile::first(m_tmp.windows(u"tree\\*.*"), m_find, m_first), 0u);
        m_folder = m_find.folder();
        ASSERT_TRUE(m_folder);
    }
    std::string tree(const std::string& name) const { return m_tmp.host("tree/" + name); }

    ovtest::TempFolder m_tmp;
    platform::FindFile m_find;
    platform::FindData m_first;
    platform::FolderRef m_folder;
};

TEST_F(WalkByDescriptor, ASubFolderIsListedOnlyWhileItIsTheFolderListed) {
    platform::FindData sub;
    ASSERT_TRUE(ListedEntry(m_find, m_first, "sub", sub));
    EXPECT_NE(sub.inode, 0u);

    struct Case {
        const char* what;
        void (*swap)(const WalkByDescriptor&);
        uint32_t result;
    };
    const Case cases[] = {
        {"as listed", [](const WalkByDescriptor&) {}, 0u},
        {"a link to a folder outside",
         [](const WalkByDescriptor& t) {
             fs::rename(t.tree("sub"), t.tree("sub.away"));
             fs::create_directory_symlink(t.m_tmp.host("outside"), t.tree("sub"));
         },
         platform::kErrorCantResolveFilename},
        {"another folder moved in",
         [](const WalkByDescriptor& t) {
             fs::remove(t.tree("sub"));
             fs::rename(t.m_tmp.host("outside"), t.tree("sub"));
         },
         platform::kErrorAccessDenied},
        {"a file",
         [](const WalkByDescriptor& t) {
             fs::rename(t.tree("sub"), t.m_tmp.host("outside"));
             t.m_tmp.writeFile("tree/sub", "now a file");
         },
         platform::kErrorPathNotFound},
        {"gone", [](const WalkByDescriptor& t) { fs::remove(t.tree("sub")); },
         platform::kErrorPathNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.swap(*this);
        platform::FindFile inner;
        platform::FindData entry;
        EXPECT_EQ(platform::FindFile::firstIn(m_folder, sub, inner, entry), c.result);
        if (c.result != 0) continue;
        bool sawInside = false;
        do {
            EXPECT_NE(entry.hostName, "secret.txt");
            sawInside = sawInside || entry.hostName == "inside.txt";
        } while (inner.next(entry) == 0);
        EXPECT_TRUE(sawInside);
    }
}

TEST_F(WalkByDescriptor, AListedFileIsOpenedAsListedAndNeverThroughALinkSwappedIn) {
    platform::FindData file;
    ASSERT_TRUE(ListedEntry(m_find, m_first, "file.txt", file));
    const platform::EntryInFolder listed{m_folder, file.hostName, false};
    {
        platform::File opened;
        ASSERT_EQ(platform::File::openInFolder(listed, platform::kShareRead, opened), 0u);
        char buffer[64] = {};
        uint32_t got = 0;
        ASSERT_EQ(opened.read(buffer, sizeof buffer, got), 0u);
        EXPECT_EQ(std::string(buffer, got), "the listed file");
    }
    // The folder's path no longer leads to it: the descriptor still does.
    fs::rename(m_tmp.host("tree"), m_tmp.host("tree.moved"));
    fs::create_directory_symlink(m_tmp.host("outside"), m_tmp.host("tree"));
    {
        platform::File opened;
        EXPECT_EQ(platform::File::openInFolder(listed, platform::kShareRead, opened), 0u);
    }
    const std::string moved = m_tmp.host("tree.moved/file.txt");
    for (const char* target : {"/dev/zero", "/dev/tty"}) {
        SCOPED_TRACE(target);
        fs::remove(moved);
        fs::create_symlink(target, moved);
        platform::File opened;
        EXPECT_EQ(platform::File::openInFolder(listed, platform::kShareRead, opened),
                  platform::kErrorCantResolveFilename);
        EXPECT_FALSE(opened.isOpen());
    }
    // A FIFO put in its place is refused at once, never waited on.
    fs::remove(moved);
    ASSERT_EQ(::mkfifo(moved.c_str(), 0600), 0);
    platform::File opened;
    EXPECT_EQ(platform::File::openInFolder(listed, platform::kShareRead, opened),
              platform::kErrorAccessDenied);
    fs::remove(moved);
    EXPECT_EQ(platform::File::openInFolder(listed, platform::kShareRead, opened),
              platform::kErrorFileNotFound);
}

TEST_F(WalkByDescriptor, AListedLinkIsOpenedAsTheRegularFileItNamesOnly) {
    fs::create_symlink(m_tmp.host("outside/secret.txt"), tree("tofile"));
    ASSERT_EQ(::mkfifo(m_tmp.host("outside/fifo").c_str(), 0600), 0);
    fs::create_symlink(m_tmp.host("outside/fifo"), tree("tofifo"));
    fs::create_symlink("/dev/zero", tree("todevice"));
    fs::create_symlink(m_tmp.host("outside"), tree("tofolder"));
    struct Case {
        const char* name;
        uint32_t result;
    };
    const Case cases[] = {
        {"tofile", 0u},
        {"tofifo", platform::kErrorAccessDenied},
        {"todevice", platform::kErrorAccessDenied},
        {"tofolder", platform::kErrorAccessDenied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::File opened;
        EXPECT_EQ(
            platform::File::openInFolder({m_folder, c.name, true}, platform::kShareRead, opened),
            c.result);
        EXPECT_EQ(opened.isOpen(), c.result == 0);
    }
}

}  // namespace
