#include "platform/fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/path.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

using namespace platform;
using ovtest::TempFolder;

namespace {

std::string readHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::u16string> listNames(const std::u16string& pattern, uint32_t& rc) {
    std::vector<std::u16string> names;
    FindFile find;
    FindData entry;
    rc = FindFile::first(pattern, find, entry);
    if (rc != kErrorSuccess) return names;
    do names.push_back(entry.name);
    while (find.next(entry) == kErrorSuccess);
    return names;
}

class ScopedCurrentDirectory {
  public:
    ScopedCurrentDirectory() : m_saved(currentDirectory()) {}
    ~ScopedCurrentDirectory() { (void)setCurrentDirectory(m_saved); }

  private:
    std::u16string m_saved;
};

}  // namespace

TEST(Fs, DispositionsReportWindowsCodes) {
    TempFolder tmp;
    std::u16string path = tmp.windows(u"new.bin");
    File file;
    ASSERT_EQ(File::open(path, kGenericWrite, 0, Disposition::CreateNew, file), 0u);
    uint32_t written = 0;
    ASSERT_EQ(file.write("hello", 5, written), 0u);
    EXPECT_EQ(written, 5u);
    file.close();

    File second;
    EXPECT_EQ(File::open(path, kGenericWrite, 0, Disposition::CreateNew, second), 80u);
    EXPECT_EQ(lastError(), 80u);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(
        File::open(tmp.windows(u"none.bin"), kGenericRead, 0, Disposition::OpenExisting, second),
        2u);
    EXPECT_EQ(File::open(tmp.windows(u"nodir\\none.bin"), kGenericRead, 0,
                         Disposition::OpenExisting, second),
              3u);
    EXPECT_EQ(File::open(tmp.windows(u"none.bin"), kGenericWrite, 0, Disposition::TruncateExisting,
                         second),
              2u);

    // Create-always on an existing file truncates it and says it existed.
    ASSERT_EQ(File::open(path, kGenericWrite, 0, Disposition::CreateAlways, second), 0u);
    EXPECT_EQ(lastError(), 183u);
    second.close();
    EXPECT_EQ(readHost(tmp.host("new.bin")), "");

    // A folder is not opened for content.
    tmp.makeFolder("sub");
    EXPECT_EQ(File::open(tmp.windows(u"sub"), kGenericRead, kShareRead, Disposition::OpenExisting,
                         second),
              5u);
}

TEST(Fs, ReadWriteSeekSizeAndWholeFiles) {
    TempFolder tmp;
    std::u16string path = tmp.windows(u"data.bin");
    ASSERT_EQ(writeWholeFile(path, "0123456789"), 0u);
    File file;
    ASSERT_EQ(File::open(path, kGenericRead | kGenericWrite, 0, Disposition::OpenExisting, file),
              0u);
    uint64_t size = 0;
    ASSERT_EQ(file.size(size), 0u);
    EXPECT_EQ(size, 10u);
    ASSERT_EQ(file.seek(-3, SeekOrigin::End), 0u);
    char buffer[16] = {};
    uint32_t got = 0;
    ASSERT_EQ(file.read(buffer, sizeof buffer, got), 0u);
    EXPECT_EQ(std::string(buffer, got), "789");
    ASSERT_EQ(file.read(buffer, sizeof buffer, got), 0u);
    EXPECT_EQ(got, 0u);  // end of file is success with nothing read
    EXPECT_EQ(file.seek(-1, SeekOrigin::Begin), kErrorNegativeSeek);
    ASSERT_EQ(file.seek(4, SeekOrigin::Begin), 0u);
    ASSERT_EQ(file.setEndOfFile(), 0u);
    file.close();

    std::string content;
    ASSERT_EQ(readWholeFile(path, content), 0u);
    EXPECT_EQ(content, "0123");
    EXPECT_EQ(readWholeFile(path, content, 3), 8u);

    // A handle opened for reading does not write.
    ASSERT_EQ(File::open(path, kGenericRead, kShareRead, Disposition::OpenExisting, file), 0u);
    uint32_t written = 0;
    EXPECT_EQ(file.write("x", 1, written), 5u);
}

TEST(Fs, IdentityTellsVersionsOfAFileApart) {
    TempFolder tmp;
    std::u16string path = tmp.windows(u"data.bin");
    ASSERT_EQ(writeWholeFile(path, "first"), 0u);
    File a, b;
    ASSERT_EQ(File::open(path, kGenericRead, kShareRead | kShareWrite, Disposition::OpenExisting, a),
              0u);
    ASSERT_EQ(File::open(path, kGenericRead, kShareRead | kShareWrite, Disposition::OpenExisting, b),
              0u);
    FileIdentity first, second;
    ASSERT_EQ(a.identity(first), 0u);
    ASSERT_EQ(b.identity(second), 0u);
    EXPECT_EQ(first, second);
    EXPECT_EQ(a.identityAtOpen(), first) << "the open's own look at the file";
    EXPECT_EQ(first.size, 5u);
    // Past a tick of the file clock, a rewrite of the same size is another version.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    File writer;
    ASSERT_EQ(File::open(path, kGenericWrite, kShareRead, Disposition::OpenExisting, writer), 0u);
    uint32_t written = 0;
    ASSERT_EQ(writer.write("FIRST", 5, written), 0u);
    FileIdentity after;
    ASSERT_EQ(a.identity(after), 0u);
    EXPECT_NE(after, first);
    EXPECT_EQ(after.size, first.size);
    EXPECT_EQ(after.inode, first.inode);
    File closed;
    EXPECT_EQ(closed.identity(after), kErrorInvalidHandle);
}

TEST(Fs, ReadOnlyFileCannotBeDeletedUntilTheAttributeIsCleared) {
    TempFolder tmp;
    std::u16string path = tmp.windows(u"locked.txt");
    ASSERT_EQ(writeWholeFile(path, "x"), 0u);
    ASSERT_EQ(setFileAttributes(path, kAttrReadOnly), 0u);
    EXPECT_TRUE(getFileAttributes(path) & kAttrReadOnly);
    EXPECT_EQ(deleteFile(path), 5u);
    EXPECT_EQ(lastError(), 5u);
    File file;  // even for root, as on Windows
    EXPECT_EQ(File::open(path, kGenericWrite, 0, Disposition::OpenExisting, file), 5u);
    EXPECT_EQ(File::open(path, kGenericWrite, 0, Disposition::CreateAlways, file), 5u);

    ASSERT_EQ(setFileAttributes(path, kAttrNormal), 0u);
    EXPECT_FALSE(getFileAttributes(path) & kAttrReadOnly);
    EXPECT_EQ(deleteFile(path), 0u);
    EXPECT_EQ(deleteFile(path), 2u);
    EXPECT_EQ(getFileAttributes(path), kInvalidAttributes);
    EXPECT_EQ(lastError(), 2u);
}

TEST(Fs, ShareModesHoldWithinTheProcess) {
    TempFolder tmp;
    std::u16string path = tmp.windows(u"held.txt");
    ASSERT_EQ(writeWholeFile(path, "x"), 0u);
    {
        File held;
        ASSERT_EQ(File::open(path, kGenericRead, kShareRead, Disposition::OpenExisting, held), 0u);
        EXPECT_EQ(deleteFile(path), 32u);
        EXPECT_EQ(moveFile(path, tmp.windows(u"moved.txt")), 32u);
        struct Case {
            uint32_t access, share, expected;
        } cases[] = {
            {kGenericRead, kShareRead, 0},                  // both read and share reading
            {kGenericRead, kShareWrite, 32},                // the holder reads, not shared
            {kGenericWrite, kShareRead | kShareWrite, 32},  // the holder does not share writing
            {0, 0, 0},                                      // no access, no conflict
        };
        for (const auto& c : cases) {
            File other;
            EXPECT_EQ(File::open(path, c.access, c.share, Disposition::OpenExisting, other),
                      c.expected)
                << c.access << "/" << c.share;
        }
    }
    {
        File held;
        ASSERT_EQ(File::open(path, kGenericRead, kShareRead | kShareDelete,
                             Disposition::OpenExisting, held),
                  0u);
        EXPECT_EQ(deleteFile(path), 0u);
    }
    ASSERT_EQ(writeWholeFile(path, "x"), 0u);
    File held;
    ASSERT_EQ(File::open(path, kGenericRead, 0, Disposition::OpenExisting, held), 0u);
    EXPECT_EQ(deleteFile(path), 32u);
    resetShareTable();
    EXPECT_EQ(deleteFile(path), 0u);
    held.close();  // closing after a reset is harmless
}

TEST(Fs, FifoIsRefusedWithoutBlocking) {
    TempFolder tmp;
    ASSERT_EQ(::mkfifo(tmp.host("pipe").c_str(), 0600), 0);
    std::u16string path = tmp.windows(u"pipe");
    auto opened = std::async(std::launch::async, [&] {
        File file;
        return std::make_pair(
            File::open(path, kGenericRead, kShareRead, Disposition::OpenExisting, file),
            File::open(path, kGenericWrite, kShareRead, Disposition::OpenAlways, file));
    });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Unblock the stuck open so the test can end, then fail.
        int fd = ::open(tmp.host("pipe").c_str(), O_RDWR | O_NONBLOCK);
        opened.wait();
        ::close(fd);
        FAIL() << "opening a FIFO blocked";
    }
    auto [readRc, writeRc] = opened.get();
    EXPECT_EQ(readRc, 5u);
    EXPECT_EQ(writeRc, 5u);
    EXPECT_EQ(getFileAttributes(path), kAttrDevice);
    std::string content;
    EXPECT_EQ(readWholeFile(path, content), 5u);
}

TEST(Fs, AttributesOfLinksFoldersAndHiddenFiles) {
    TempFolder tmp;
    tmp.writeFile("plain.txt", "x");
    tmp.makeFolder("dir");
    ASSERT_EQ(::symlink(tmp.host("plain.txt").c_str(), tmp.host("link").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", tmp.host("dangling").c_str()), 0);

    EXPECT_EQ(getFileAttributes(tmp.windows(u"plain.txt")), kAttrArchive);
    EXPECT_EQ(getFileAttributes(tmp.windows(u"dir")), kAttrDirectory);
    EXPECT_EQ(getFileAttributes(tmp.windows(u"link")), kAttrReparsePoint);
    EXPECT_EQ(getFileAttributes(tmp.windows(u"dangling")), kAttrReparsePoint);
    // Deleting a link removes the link, not its target.
    EXPECT_EQ(deleteFile(tmp.windows(u"link")), 0u);
    EXPECT_EQ(readHost(tmp.host("plain.txt")), "x");
    // No file is created through a dangling link.
    File file;
    EXPECT_EQ(File::open(tmp.windows(u"dangling"), kGenericWrite, 0, Disposition::OpenAlways, file),
              5u);

    if (::setxattr(tmp.host("plain.txt").c_str(), "user.probe", "1", 1, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    std::u16string plain = tmp.windows(u"plain.txt");
    ASSERT_EQ(setFileAttributes(plain, kAttrHidden | kAttrSystem | kAttrReadOnly), 0u);
    EXPECT_EQ(getFileAttributes(plain), kAttrHidden | kAttrSystem | kAttrReadOnly);
    ASSERT_EQ(setFileAttributes(plain, kAttrNormal), 0u);
    EXPECT_EQ(getFileAttributes(plain), kAttrNormal);
    ASSERT_EQ(setFileAttributes(tmp.windows(u"dir"), kAttrHidden), 0u);
    EXPECT_EQ(getFileAttributes(tmp.windows(u"dir")), kAttrDirectory | kAttrHidden);

    // An enumeration that does not ask for hidden and system tells the rest.
    ASSERT_EQ(setFileAttributes(plain, kAttrHidden | kAttrSystem | kAttrReadOnly), 0u);
    for (auto detail : {FindFile::Detail::Full, FindFile::Detail::NoHiddenOrSystem}) {
        const bool full = detail == FindFile::Detail::Full;
        FindFile find;
        FindData entry;
        ASSERT_EQ(FindFile::first(plain, find, entry, detail), 0u);
        EXPECT_EQ(entry.attributes, full ? kAttrHidden | kAttrSystem | kAttrReadOnly
                                         : kAttrArchive | kAttrReadOnly);
        ASSERT_EQ(FindFile::first(tmp.windows(u"dir"), find, entry, detail), 0u);
        EXPECT_EQ(entry.attributes, full ? kAttrDirectory | kAttrHidden : kAttrDirectory);
    }
    ASSERT_EQ(setFileAttributes(plain, kAttrNormal), 0u);
}

// The listing detail takes a regular file as the folder lists it, with no
// look at the file: a file removed after the folder was read is still
// listed, where the other details skip it; folders and links are looked at.
TEST(Fs, AListingOnlyEntryIsWhatTheFolderListed) {
    TempFolder tmp;
    std::filesystem::create_directory(tmp.host("dir"));
    std::filesystem::create_symlink("dir", tmp.host("link"));
    for (const char* name : {"a.bin", "b.bin"}) {
        FILE* f = std::fopen(tmp.host(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("twelve bytes", f);
        std::fclose(f);
    }
    struct stat folder {};
    ASSERT_EQ(::stat(tmp.host("").c_str(), &folder), 0);
    for (auto detail : {FindFile::Detail::NoHiddenOrSystem, FindFile::Detail::Listing}) {
        const bool listing = detail == FindFile::Detail::Listing;
        SCOPED_TRACE(listing ? "listing" : "no hidden or system");
        struct stat file {};
        ASSERT_EQ(::stat(tmp.host("b.bin").c_str(), &file), 0);
        FindFile find;
        FindData entry;
        ASSERT_EQ(FindFile::first(tmp.windows(u"*.*"), find, entry, detail), 0u);
        std::map<std::u16string, FindData> seen;
        do {
            seen[entry.name] = entry;
            if (entry.name == u"a.bin") std::filesystem::remove(tmp.host("b.bin"));
        } while (find.next(entry) == 0);
        ASSERT_EQ(seen.count(u"a.bin"), 1u);
        EXPECT_EQ(seen.count(u"b.bin"), listing ? 1u : 0u);
        EXPECT_EQ(seen[u"a.bin"].size, listing ? 0u : 12u);
        EXPECT_EQ(seen[u"a.bin"].attributes, kAttrArchive);
        if (listing) {
            EXPECT_EQ(seen[u"b.bin"].inode, static_cast<uint64_t>(file.st_ino));
            EXPECT_EQ(seen[u"b.bin"].device, static_cast<uint64_t>(folder.st_dev));
        }
        EXPECT_EQ(seen[u"dir"].attributes, kAttrDirectory);
        EXPECT_EQ(seen[u"link"].attributes, kAttrReparsePoint);
        FILE* f = std::fopen(tmp.host("b.bin").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
}

TEST(Fs, WildcardsMatchAsWindowsMatchesThem) {
    struct Case {
        const char16_t* pattern;
        const char16_t* name;
        bool matches;
    } cases[] = {
        {u"*.*", u"noext", true},
        {u"*.*", u"a.b.c", true},
        {u"*", u".hidden", true},
        {u"*.ovj", u"ovjob0.ovj", true},
        {u"*.ovj", u"OVJOB1.OVJ", true},
        {u"*.ovj", u"ovjob.ovjx", false},
        {u"*.ovj", u"ovj", false},
        {u"Orvane_*.log", u"Orvane_20260101.log", true},
        {u"Orvane_*.log", u"orvane_x.LOG", true},
        {u"Orvane_*.log", u"Orvane.log", false},
        {u"Orvane*.log", u"Orvane.log", true},
        {u"Orvane*.log", u"Orvane_1.log", true},
        {u"Orvane*.log", u"Orvane_1.log.bak", false},
        {u"?.txt", u"a.txt", true},
        {u"?.txt", u"ab.txt", false},
        {u"file.*", u"file", true},
        {u"file.*", u"file.txt", true},
        {u"*.", u"noext", true},
        {u"*.", u"has.ext", false},
        {u"*a*b*c", u"xaybzc", true},
        {u"*a*b*c", u"xaybzcd", false},
        {u"caf\u00c9.txt", u"caf\u00e9.TXT", true},
        {u"", u"x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matchesWildcard(c.pattern, c.name), c.matches)
            << toUtf8(c.pattern) << " vs " << toUtf8(c.name);
}

TEST(Fs, EnumerationListsDotsFirstAndNeverFollowsLinks) {
    TempFolder tmp;
    for (const char* name :
         {"Orvane_1.log", "orvane_2.LOG", "Orvane.log", "notes.txt", "ovjob0.ovj", "OVJOB1.OVJ"})
        tmp.writeFile(name, "12345");
    tmp.makeFolder("target");
    ASSERT_EQ(::symlink(tmp.host("target").c_str(), tmp.host("dirlink").c_str()), 0);

    struct Case {
        const char16_t* pattern;
        std::vector<std::u16string> names;
    } cases[] = {
        {u"*.*",
         {u".", u"..", u"dirlink", u"notes.txt", u"Orvane.log", u"Orvane_1.log", u"orvane_2.LOG",
          u"ovjob0.ovj", u"OVJOB1.OVJ", u"target"}},
        {u"*.ovj", {u"ovjob0.ovj", u"OVJOB1.OVJ"}},
        {u"Orvane_*.log", {u"Orvane_1.log", u"orvane_2.LOG"}},
        {u"orvane*.LOG", {u"Orvane.log", u"Orvane_1.log", u"orvane_2.LOG"}},
        {u"NOTES.TXT", {u"notes.txt"}},
    };
    for (const auto& c : cases) {
        uint32_t rc = 0;
        EXPECT_EQ(listNames(tmp.windows(c.pattern), rc), c.names) << toUtf8(c.pattern);
        EXPECT_EQ(rc, 0u);
    }
    uint32_t rc = 0;
    EXPECT_TRUE(listNames(tmp.windows(u"*.zip"), rc).empty());
    EXPECT_EQ(rc, 2u);
    listNames(tmp.windows(u"missing\\*.*"), rc);
    EXPECT_EQ(rc, 3u);

    FindFile find;
    FindData entry;
    ASSERT_EQ(FindFile::first(tmp.windows(u"dirlink"), find, entry), 0u);
    EXPECT_EQ(entry.attributes, kAttrReparsePoint);
    ASSERT_EQ(FindFile::first(tmp.windows(u"notes.txt"), find, entry), 0u);
    EXPECT_EQ(entry.size, 5u);
    EXPECT_EQ(entry.attributes, kAttrArchive);
    EXPECT_GT(entry.lastWriteUnix, 1600000000);
    EXPECT_EQ(find.next(entry), 18u);
}

TEST(Fs, RemoveTreeStaysInsideTheTree) {
    TempFolder tmp;
    tmp.makeFolder("outside");
    tmp.writeFile("outside/keep.txt", "keep");
    tmp.makeFolder("tree");
    tmp.makeFolder("tree/sub");
    tmp.writeFile("tree/sub/file.txt", "x");
    ASSERT_EQ(::chmod(tmp.host("tree/sub/file.txt").c_str(), 0444), 0);
    ASSERT_EQ(::symlink(tmp.host("outside").c_str(), tmp.host("tree/sub/out").c_str()), 0);
    ASSERT_EQ(::symlink(tmp.host("outside/keep.txt").c_str(), tmp.host("tree/keep").c_str()), 0);

    EXPECT_EQ(removeTree(tmp.windows(u"tree")), 0u);
    EXPECT_EQ(::access(tmp.host("tree").c_str(), F_OK), -1);
    EXPECT_EQ(readHost(tmp.host("outside/keep.txt")), "keep");
    EXPECT_EQ(removeTree(tmp.windows(u"tree")), 2u);

    // A link given as the tree itself goes as a link.
    ASSERT_EQ(::symlink(tmp.host("outside").c_str(), tmp.host("toplink").c_str()), 0);
    EXPECT_EQ(removeTree(tmp.windows(u"toplink")), 0u);
    EXPECT_EQ(readHost(tmp.host("outside/keep.txt")), "keep");
}

// A folder swapped for a link to another place after the removal listed it
// and before it goes in: the removal stops with 5, and neither what the link
// leads to nor the folder moved out of the tree is touched.
TEST(Fs, RemoveTreeRefusesAFolderSwappedForALinkMeanwhile) {
    TempFolder tmp;
    tmp.makeFolder("outside");
    tmp.writeFile("outside/keep.txt", "keep");
    tmp.makeFolder("tree");
    tmp.makeFolder("tree/sub");
    tmp.writeFile("tree/sub/mine.txt", "mine");
    int swaps = 0;
    setRemoveTreeDescentHook([&](std::string_view name) {
        if (name != "sub" || swaps++ > 0) return;
        EXPECT_EQ(::rename(tmp.host("tree/sub").c_str(), tmp.host("moved").c_str()), 0);
        EXPECT_EQ(::symlink(tmp.host("outside").c_str(), tmp.host("tree/sub").c_str()), 0);
    });
    const uint32_t rc = removeTree(tmp.windows(u"tree"));
    setRemoveTreeDescentHook({});
    EXPECT_EQ(swaps, 1) << "the removal never went into the folder";
    EXPECT_EQ(rc, 5u);
    EXPECT_EQ(readHost(tmp.host("outside/keep.txt")), "keep");
    EXPECT_EQ(readHost(tmp.host("moved/mine.txt")), "mine");
}

// The same with a folder that has another file system mounted on it put in
// the listed folder's place: refused with 5, the mounted files stay. The
// mount is made in a child with a mount namespace of its own.
TEST(Fs, RemoveTreeRefusesAMountSwappedInMeanwhile) {
    TempFolder tmp;
    tmp.makeFolder("tree");
    tmp.makeFolder("tree/sub");
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        int swaps = 0;
        setRemoveTreeDescentHook([&](std::string_view name) {
            if (name != "sub" || swaps++ > 0) return;
            if (::rename(tmp.host("tree/sub").c_str(), tmp.host("moved").c_str()) != 0 ||
                ::mkdir(tmp.host("tree/sub").c_str(), 0755) != 0 ||
                ::mount("tmpfs", tmp.host("tree/sub").c_str(), "tmpfs", 0, "size=1m") != 0)
                ::_exit(78);
            tmp.writeFile("tree/sub/keep.txt", "keep");
        });
        const uint32_t rc = removeTree(tmp.windows(u"tree"));
        const bool kept = readHost(tmp.host("tree/sub/keep.txt")) == "keep";
        ::umount(tmp.host("tree/sub").c_str());
        ::_exit(swaps != 1 ? 3 : rc != 5 ? 1 : kept ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused with 5, 2: the mounted files were "
                                         "touched, 3: never went into the folder, 78: no swap";
}

TEST(Fs, RemoveTreeHandlesTreesDeeperThanPathMax) {
    TempFolder tmp;
    tmp.makeFolder("deep");
    int fd = ::open(tmp.host("deep").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    const std::string name(200, 'd');
    for (int level = 0; level < 60; ++level) {  // about 12000 bytes of path
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = child;
        ASSERT_GE(fd, 0);
        if (level % 20 == 0) {
            int file = ::openat(fd, "f.txt", O_CREAT | O_WRONLY, 0644);
            ::close(file);
        }
    }
    ::close(fd);
    EXPECT_EQ(removeTree(tmp.windows(u"deep")), 0u);
    EXPECT_EQ(::access(tmp.host("deep").c_str(), F_OK), -1);
}

TEST(Fs, MoveCopyAndFolders) {
    TempFolder tmp;
    tmp.writeFile("a.txt", "alpha");
    tmp.writeFile("b.txt", "beta");
    EXPECT_EQ(moveFile(tmp.windows(u"a.txt"), tmp.windows(u"b.txt")), 183u);
    EXPECT_EQ(moveFile(tmp.windows(u"a.txt"), tmp.windows(u"A.TXT")), 0u);  // case only
    EXPECT_EQ(readHost(tmp.host("A.TXT")), "alpha");
    EXPECT_EQ(copyFile(tmp.windows(u"A.TXT"), tmp.windows(u"b.txt"), true), 80u);
    EXPECT_EQ(copyFile(tmp.windows(u"A.TXT"), tmp.windows(u"b.txt"), false), 0u);
    EXPECT_EQ(readHost(tmp.host("b.txt")), "alpha");
    EXPECT_EQ(copyFile(tmp.windows(u"b.txt"), tmp.windows(u"B.TXT"), false), 32u);  // itself
    EXPECT_EQ(readHost(tmp.host("b.txt")), "alpha");
    EXPECT_EQ(moveFile(tmp.windows(u"missing"), tmp.windows(u"x")), 2u);

    EXPECT_EQ(createDirectory(tmp.windows(u"dir")), 0u);
    EXPECT_EQ(createDirectory(tmp.windows(u"dir")), 183u);
    EXPECT_EQ(createDirectory(tmp.windows(u"no\\dir")), 3u);
    tmp.writeFile("dir/f", "x");
    EXPECT_EQ(removeDirectory(tmp.windows(u"dir")), 145u);
    EXPECT_EQ(removeDirectory(tmp.windows(u"b.txt")), kErrorDirectory);
    EXPECT_EQ(deleteFile(tmp.windows(u"dir")), 5u);
    EXPECT_EQ(deleteFile(tmp.windows(u"dir\\f")), 0u);
    EXPECT_EQ(removeDirectory(tmp.windows(u"dir")), 0u);
}

TEST(Fs, CurrentDirectoryAndTempFolders) {
    TempFolder tmp;
    tmp.makeFolder("work");
    tmp.writeFile("work/job.ovj", "job");
    {
        ScopedCurrentDirectory restore;
        ASSERT_EQ(setCurrentDirectory(tmp.windows(u"work")), 0u);
        EXPECT_EQ(currentDirectory(), tmp.windows(u"work"));
        std::string content;
        ASSERT_EQ(readWholeFile(u"job.ovj", content), 0u);
        EXPECT_EQ(content, "job");
        ASSERT_EQ(readWholeFile(u"..\\work\\JOB.OVJ", content), 0u);
        ASSERT_EQ(setCurrentDirectory(ascii16(tmp.host())), 0u);  // host form too
        EXPECT_EQ(currentDirectory(), tmp.windows());
        EXPECT_EQ(setCurrentDirectory(tmp.windows(u"none")), 2u);
        EXPECT_EQ(setCurrentDirectory(tmp.windows(u"work\\job.ovj")), kErrorDirectory);
    }

    ovtest::ScopedEnv env("TMPDIR", tmp.host());
    EXPECT_EQ(tempPath(), tmp.windows() + u"\\");
    std::u16string folder;
    ASSERT_EQ(createPrivateTempFolder(u"ovx", folder), 0u);
    EXPECT_EQ(folder.rfind(tmp.windows(u"ovx"), 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(toHostPath(folder).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(createPrivateTempFolder(u"a\\b", folder), kErrorInvalidName);
}

// Across file systems a move is a copy and a delete: the content, the
// read-only bit and the time arrive, and the original is gone.
TEST(Fs, MoveAcrossFileSystems) {
    TempFolder tmp;
    char other[] = "/dev/shm/ovtest-XXXXXX";
    if (::mkdtemp(other) == nullptr) GTEST_SKIP() << "no /dev/shm here to move to";
    struct stat here {
    }, there{};
    ::stat(tmp.host().c_str(), &here);
    ::stat(other, &there);
    const std::string target = std::string(other) + "/moved.bin";
    auto cleanUp = [&] {
        ::unlink(target.c_str());
        ::rmdir(other);
    };
    if (here.st_dev == there.st_dev) {
        cleanUp();
        GTEST_SKIP() << "/dev/shm is on the same file system as /tmp here";
    }
    const std::string content(3 << 20, 'm');  // more than one buffer of the copy
    tmp.writeFile("source.bin", content);
    ASSERT_EQ(::chmod(tmp.host("source.bin").c_str(), 0444), 0);
    timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tmp.host("source.bin").c_str(), times, 0), 0);

    EXPECT_EQ(moveFile(tmp.windows(u"source.bin"), toWindowsPath(target)), 0u);
    EXPECT_EQ(::access(tmp.host("source.bin").c_str(), F_OK), -1);
    EXPECT_EQ(readHost(target), content);
    struct stat moved {};
    ASSERT_EQ(::stat(target.c_str(), &moved), 0);
    EXPECT_EQ(moved.st_mode & 0222, 0u) << "the read-only bit was lost";
    EXPECT_EQ(moved.st_mtim.tv_sec, 1600000000);
    cleanUp();
}

// A copy that fails part way (here: the file size limit of the process)
// removes what it had written.
TEST(Fs, ACopyThatFailsLeavesNoPartOfItself) {
    TempFolder tmp;
    tmp.writeFile("big.bin", std::string(3 << 20, 'b'));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
        if (copyFile(tmp.windows(u"big.bin"), tmp.windows(u"copy.bin"), false) == 0) ::_exit(11);
        ::_exit(::access(tmp.host("copy.bin").c_str(), F_OK) == -1 ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10: no limit, 11: the copy succeeded, 12: a part was left";
}

// Another file system mounted inside the tree is never emptied: the removal
// stops with 5 and what is mounted there stays. The mount is made in a child
// with a mount namespace of its own.
TEST(Fs, RemoveTreeRefusesAFileSystemMountedInside) {
    TempFolder tmp;
    tmp.makeFolder("tree");
    tmp.makeFolder("tree/mounted");
    tmp.writeFile("tree/before.txt", "b");
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", tmp.host("tree/mounted").c_str(), "tmpfs", 0, "size=1m") != 0)
            ::_exit(77);
        tmp.writeFile("tree/mounted/keep.txt", "keep");
        const uint32_t rc = removeTree(tmp.windows(u"tree"));
        const bool kept = readHost(tmp.host("tree/mounted/keep.txt")) == "keep";
        ::umount(tmp.host("tree/mounted").c_str());
        ::_exit(rc == 5 ? (kept ? 0 : 2) : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused with 5, 2: the mounted files were touched";
}
