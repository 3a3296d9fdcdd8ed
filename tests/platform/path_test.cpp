#include "platform/path.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/fs.h"
#include "platform/linux/drive_map_internal.h"
#include "platform/registry.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

using namespace platform;
using ovtest::TempFolder;

namespace {

class ScopedCurrentDirectory {
  public:
    explicit ScopedCurrentDirectory(const std::string& host) : m_saved(currentDirectory()) {
        EXPECT_EQ(setCurrentDirectory(ascii16(host)), 0u);
    }
    ~ScopedCurrentDirectory() { (void)setCurrentDirectory(m_saved); }

  private:
    std::u16string m_saved;
};

// A registry file of the test's own, dropped again at the end.
class ScopedRegistry {
  public:
    explicit ScopedRegistry(const TempFolder& tmp)
        : m_env("ORVANE_REGISTRY", tmp.host("registry.db")) {
        resetRegistryConnection();
    }
    ~ScopedRegistry() { resetRegistryConnection(); }

    static uint32_t mapDrive(char16_t letter, const std::string& host) {
        std::u16string name = u"\\DosDevices\\";
        name += letter;
        name += u':';
        return writeString(RegRoot::LocalMachine, u"SYSTEM\\MountedDevices", name, toUtf16(host));
    }

  private:
    ovtest::ScopedEnv m_env;
};

}  // namespace

// Every test sees a registry of its own, so the drive map starts from the
// default whatever the build tree's registry holds.
class PathTest : public ::testing::Test {
  protected:
    TempFolder m_registryFolder;
    ScopedRegistry m_registry{m_registryFolder};
};

TEST_F(PathTest, DefaultDriveMapConvertsBothWays) {
    // Drive-relative: the current folder when it lies on the drive.
    const std::string here = std::filesystem::current_path().string();
    struct Case {
        const char16_t* windows;
        std::string host;
    } toHost[] = {
        {u"C:\\", "/"},
        {u"c:\\", "/"},
        {u"C:", here},
        {u"C:\\etc\\hostname-that-is-not-here", "/etc/hostname-that-is-not-here"},
        {u"C:/etc//passwd-not-here/", "/etc/passwd-not-here"},
        {u"C:\\a\\..\\..\\b\\.\\c", "/b/c"},  // never above the drive's root
        {u"\\\\?\\C:\\x\\y", "/x/y"},
        {u"\\\\server\\share\\x", ""},  // UNC names no drive
        {u"\\\\.\\PhysicalDrive0", ""},
        {u"Q:\\x", ""},  // unmapped
        {u"", ""},
    };
    for (const auto& c : toHost) EXPECT_EQ(toHostPath(c.windows), c.host) << toUtf8(c.windows);

    struct Back {
        const char* host;
        const char16_t* windows;
    } toWindows[] = {
        {"/", u"C:\\"},
        {"/home/a/x.txt", u"C:\\home\\a\\x.txt"},
        {"//usr///lib/", u"C:\\usr\\lib"},
        {"/usr/../etc/./x", u"C:\\etc\\x"},
        {"", u""},
    };
    for (const auto& c : toWindows) EXPECT_EQ(toWindowsPath(c.host), c.windows) << c.host;

    EXPECT_EQ(driveRoot(u'C'), "/");
    EXPECT_EQ(driveRoot(u'c'), "/");
    EXPECT_EQ(driveOfHostPath("/home"), u'C');
    std::u16string drives = logicalDriveStrings();
    EXPECT_EQ(drives.substr(0, 4), std::u16string(u"C:\\\0", 4));
    EXPECT_EQ(drives.back(), 0);
}

TEST_F(PathTest, RelativePathsResolveAgainstTheCurrentDirectory) {
    TempFolder tmp;
    tmp.makeFolder("jobs");
    tmp.makeFolder("data");
    tmp.writeFile("data/hashdb.dbf", "db");
    ScopedCurrentDirectory cwd(tmp.host("jobs"));
    struct Case {
        const char16_t* windows;
        std::string host;
    } cases[] = {
        {u"..\\data\\hashdb.dbf", tmp.host("data/hashdb.dbf")},
        {u"../jobs/ovjob0.ovj", tmp.host("jobs/ovjob0.ovj")},
        {u"ovjob1.ovj", tmp.host("jobs/ovjob1.ovj")},
        {u".\\x\\..\\y", tmp.host("jobs/y")},
        {u"..", tmp.host()},
        {u"\\etc", "/etc"},                    // the root of the current drive
        {u"C:x.ovj", tmp.host("jobs/x.ovj")},  // drive-relative on the current drive
    };
    for (const auto& c : cases) EXPECT_EQ(toHostPath(c.windows), c.host) << toUtf8(c.windows);
    EXPECT_EQ(toWindowsPath("ovjob0.ovj"), tmp.windows(u"jobs\\ovjob0.ovj"));
    std::string content;
    ASSERT_EQ(readWholeFile(u"..\\DATA\\HashDb.DBF", content), 0u);
    EXPECT_EQ(content, "db");

    // A current directory that was removed names nothing, never the root.
    tmp.makeFolder("gone");
    ASSERT_EQ(setCurrentDirectory(tmp.windows(u"gone")), 0u);
    ASSERT_EQ(::rmdir(tmp.host("gone").c_str()), 0);
    EXPECT_EQ(toHostPath(u"file.txt"), "");
    EXPECT_EQ(toWindowsPath("file.txt"), u"");
    File file;
    EXPECT_EQ(File::open(u"file.txt", kGenericWrite, 0, Disposition::CreateAlways, file), 3u);
}

TEST_F(PathTest, ComponentsMatchExactlyFirstThenIgnoringCase) {
    TempFolder tmp;
    tmp.makeFolder("Data");
    tmp.writeFile("Data/HashDB.dbf", "1");
    tmp.writeFile("Data/same", "lower");
    tmp.writeFile("Data/SAME", "upper");
    tmp.writeFile("Data/evil.", "dot");  // a host name Windows could not make
    tmp.writeFile("Data/plain", "plain");
    struct Case {
        std::u16string windows;
        std::string host;
    } cases[] = {
        {tmp.windows(u"DATA\\hashdb.DBF"), tmp.host("Data/HashDB.dbf")},
        {tmp.windows(u"data\\same"), tmp.host("Data/same")},
        {tmp.windows(u"data\\SAME"), tmp.host("Data/SAME")},
        {tmp.windows(u"data\\Same"), tmp.host("Data/SAME")},         // the smaller name of the two
        {tmp.windows(u"Data. \\plain.. "), tmp.host("Data/plain")},  // trailing dots and blanks go
        {tmp.windows(u"Data\\evil."), tmp.host("Data/evil.")},       // unless the name has them
        {tmp.windows(u"data\\new\\Sub. "), tmp.host("Data/new/Sub")},  // missing: kept as given
    };
    for (const auto& c : cases) EXPECT_EQ(toHostPath(c.windows), c.host) << toUtf8(c.windows);
    // The last name resolved in its folder by a resolver, which reads each
    // folder once, gives the same host path, for each name again as well.
    platform::HostPathResolver resolver;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& c : cases) {
            const size_t cut = c.windows.rfind(u'\\');
            const std::string folder = toHostPath(c.windows.substr(0, cut));
            EXPECT_EQ(resolver.resolveName(folder, std::u16string_view(c.windows).substr(cut + 1)),
                      c.host)
                << toUtf8(c.windows) << " pass " << pass;
        }
    }
}

TEST_F(PathTest, NamesThatAreNotUtf8RoundTripThroughRealFiles) {
    TempFolder tmp;
    const std::string names[] = {"bad\xff\xfe.bin", "caf\xc3\xa9.txt", "back\\slash", "\xc0\xaf"};
    for (const auto& name : names) {
        tmp.writeFile(name, "content of " + name);
        std::u16string windows = toWindowsPath(tmp.host(name));
        ASSERT_FALSE(windows.empty());
        EXPECT_EQ(toHostPath(windows), tmp.host(name));
        EXPECT_EQ(parentPath(windows), tmp.windows());
        std::string content;
        EXPECT_EQ(readWholeFile(windows, content), 0u) << name;
        EXPECT_EQ(content, "content of " + name);
    }
    EXPECT_EQ(toWindowsPath(tmp.host("bad\xff\xfe.bin")), tmp.windows(u"bad\xDCFF\xDCFE.bin"));

    // Every name found by enumeration opens again by its joined path.
    FindFile find;
    FindData entry;
    ASSERT_EQ(FindFile::first(tmp.windows(u"*"), find, entry), 0u);
    size_t opened = 0;
    do {
        if (entry.attributes & kAttrDirectory) continue;
        std::string content;
        EXPECT_EQ(readWholeFile(joinPath(tmp.windows(), entry.name), content), 0u);
        ++opened;
    } while (find.next(entry) == 0);
    EXPECT_EQ(opened, std::size(names));
}

TEST_F(PathTest, PathTextHelpers) {
    struct Case {
        const char16_t* path;
        const char16_t* parent;
        const char16_t* base;
    } cases[] = {
        {u"C:\\a\\b", u"C:\\a", u"b"},
        {u"C:\\a", u"C:\\", u"a"},
        {u"C:\\", u"C:\\", u""},
        {u"C:\\a\\b\\", u"C:\\a", u"b"},
        {u"C:/a/b.txt", u"C:/a", u"b.txt"},
        {u"..\\data\\x", u"..\\data", u"x"},
        {u"name", u"", u"name"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parentPath(c.path), c.parent) << toUtf8(c.path);
        EXPECT_EQ(baseName(c.path), c.base) << toUtf8(c.path);
    }
    EXPECT_EQ(joinPath(u"C:\\a", u"b"), u"C:\\a\\b");
    EXPECT_EQ(joinPath(u"C:\\", u"b"), u"C:\\b");
    EXPECT_EQ(joinPath(u"C:\\a\\", u"\\b"), u"C:\\a\\b");
}

TEST_F(PathTest, PseudoFileSystemsAreNotPartOfADriveWalk) {
    struct Case {
        const char16_t* path;
        bool pseudo;
    } cases[] = {
        {u"C:\\proc", true}, {u"C:\\proc\\1\\fd", true}, {u"C:\\sys", true},
        {u"C:\\dev", true},  {u"C:\\run", true},         {u"C:\\run\\user", true},
        {u"C:\\", false},    {u"C:\\home", false},       {u"C:\\procfs", false},
        {u"C:\\tmp", false}, {u"C:\\devices", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isPseudoFileSystemFolder(c.path), c.pseudo) << toUtf8(c.path);
}

TEST_F(PathTest, RemovableMediaMountPoints) {
    std::string mounts =
        "/dev/vda / ext4 rw 0 0\n"
        "proc /proc proc rw 0 0\n"
        "/dev/sdb1 /media/usb vfat rw 0 0\n"
        "/dev/sdc1 /run/media/ann/MY\\040DISK vfat rw 0 0\n"
        "/dev/sdd1 /media vfat rw 0 0\n"
        "/dev/sdb1 /media/usb vfat rw 0 0\n"
        "tmpfs /mediax/y tmpfs rw 0 0\n";
    EXPECT_EQ(detail::removableMountPoints(mounts),
              (std::vector<std::string>{"/media/usb", "/run/media/ann/MY DISK"}));
}

TEST_F(PathTest, ProgramAndRuntimeFolders) {
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string self(exe);
    EXPECT_EQ(programFolderHost(), self.substr(0, self.rfind('/')));
    std::string folder = programFolderHost();
    EXPECT_EQ(installRootHost(), folder.substr(0, folder.rfind('/')));

    TempFolder tmp;
    {
        ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", tmp.host("a/run"));
        EXPECT_EQ(runtimeFolderHost(), tmp.host("a/run"));
        struct stat st {};
        ASSERT_EQ(::stat(tmp.host("a/run").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    tmp.writeFile("file", "");
    ovtest::ScopedEnv env("ORVANE_RUNTIME_DIR", tmp.host("file"));
    EXPECT_EQ(runtimeFolderHost(), "");
}

// Mounts are made in a child with a mount namespace of its own, over
// tmpfs copies of /media and /run, so the machine's own folders are never
// touched.
TEST_F(PathTest, RemovableMediaGetTheNextFreeLetters) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/media", "tmpfs", 0, "size=1m") != 0 ||
            ::mount("tmpfs", "/run", "tmpfs", 0, "size=1m") != 0) {
            ::_exit(77);
        }
        int failed = 0;  // the number of the first check that failed
        auto check = [&](bool ok, int number) {
            if (!ok && !failed) failed = number;
        };
        check(driveMap().size() == 1, 1);
        ::mkdir("/media/usb", 0755);
        ::mkdir("/run/media", 0755);
        ::mkdir("/run/media/ann", 0755);
        ::mkdir("/run/media/ann/disk", 0755);
        ::mount("tmpfs", "/media/usb", "tmpfs", 0, "size=1m");
        ::mount("tmpfs", "/run/media/ann/disk", "tmpfs", 0, "size=1m");
        // Seen at the next call, without a restart.
        check(driveRoot(u'D') == "/media/usb", 2);
        check(driveRoot(u'E') == "/run/media/ann/disk", 3);
        check(toWindowsPath("/media/usb/x") == u"D:\\x", 4);
        check(toHostPath(u"e:\\y") == "/run/media/ann/disk/y", 5);
        check(driveOfHostPath("/run/media/ann/disk/y") == u'E', 6);
        check(!isPseudoFileSystemFolder(u"E:\\"), 7);
        check(isPseudoFileSystemFolder(u"C:\\run"), 8);
        ::umount("/media/usb");
        check(driveRoot(u'D') == "/run/media/ann/disk" && driveRoot(u'E').empty(), 9);
        ::_exit(failed);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the number of the first failed check";
}

TEST_F(PathTest, MountedDevicesAddAndOverrideDrives) {
    TempFolder tmp;
    // Media of the test's own: none, whatever this machine has mounted.
    tmp.writeFile("mounts", "/dev/vda / ext4 rw 0 0\n");
    detail::ScopedMountTable media(tmp.host("mounts"));
    tmp.makeFolder("disk");
    tmp.makeFolder("disk/Sub");
    tmp.makeFolder("root");
    EXPECT_EQ(driveRoot(u'D'), "");

    // Added while the program runs, seen at the next conversion.
    ASSERT_EQ(ScopedRegistry::mapDrive(u'D', tmp.host("disk") + "/"), 0u);
    ASSERT_EQ(writeString(RegRoot::LocalMachine, u"SYSTEM\\MountedDevices", u"\\DosDevices\\R:",
                          u"relative/folder"),
              0u);  // not an absolute folder: ignored
    uint32_t binary = 0x12345678;
    RegKey key;
    ASSERT_EQ(RegKey::open(RegRoot::LocalMachine, u"SYSTEM\\MountedDevices", key), 0u);
    ASSERT_EQ(key.setValue(u"\\DosDevices\\S:", kRegBinary, &binary, sizeof binary), 0u);

    EXPECT_EQ(driveRoot(u'D'), tmp.host("disk"));
    EXPECT_EQ(driveRoot(u'R'), "");
    EXPECT_EQ(driveRoot(u'S'), "");
    struct Case {
        std::u16string windows;
        std::string host;
    } cases[] = {
        {u"D:\\", tmp.host("disk")},
        {u"d:\\sub\\file.txt", tmp.host("disk/Sub/file.txt")},
        {u"D:\\..\\..\\escape", tmp.host("disk/escape")},  // never above the drive's root
        {u"C:\\etc", "/etc"},
    };
    for (const auto& c : cases) EXPECT_EQ(toHostPath(c.windows), c.host) << toUtf8(c.windows);
    EXPECT_EQ(toWindowsPath(tmp.host("disk/Sub/x")), u"D:\\Sub\\x");  // the longest root wins
    EXPECT_EQ(driveOfHostPath(tmp.host("disk/Sub")), u'D');
    EXPECT_EQ(driveOfHostPath(tmp.host("root")), u'C');
    std::u16string drives = logicalDriveStrings();
    EXPECT_EQ(drives, std::u16string(u"C:\\\0D:\\\0\0", 9));

    // C: moved elsewhere: the root gets Z:.
    ASSERT_EQ(ScopedRegistry::mapDrive(u'C', tmp.host("root")), 0u);
    EXPECT_EQ(driveRoot(u'C'), tmp.host("root"));
    EXPECT_EQ(driveRoot(u'Z'), "/");
    EXPECT_EQ(toWindowsPath("/etc/hosts"), u"Z:\\etc\\hosts");
    EXPECT_EQ(toWindowsPath(tmp.host("root/x")), u"C:\\x");
    EXPECT_EQ(toHostPath(u"Z:\\etc"), "/etc");
    EXPECT_EQ(toHostPath(u"C:\\x"), tmp.host("root/x"));

    // Z: itself taken by the registry: the root gets the highest free letter.
    ASSERT_EQ(ScopedRegistry::mapDrive(u'Z', tmp.host("disk")), 0u);
    EXPECT_EQ(driveRoot(u'Y'), "/");

    // Removing the values brings the default map back at once.
    ASSERT_EQ(deleteTree(RegRoot::LocalMachine, u"SYSTEM\\MountedDevices"), 0u);
    EXPECT_EQ(driveRoot(u'C'), "/");
    EXPECT_EQ(driveRoot(u'D'), "");
    EXPECT_EQ(driveRoot(u'Z'), "");
}

TEST_F(PathTest, FindFileOmitsDotsAtADriveRoot) {
    TempFolder tmp;
    tmp.makeFolder("disk");
    tmp.writeFile("disk/a.txt", "a");
    ASSERT_EQ(ScopedRegistry::mapDrive(u'D', tmp.host("disk")), 0u);
    FindFile find;
    FindData entry;
    ASSERT_EQ(FindFile::first(u"D:\\*.*", find, entry), 0u);
    EXPECT_EQ(entry.name, u"a.txt");
    EXPECT_EQ(find.next(entry), 18u);
    // A drive's root is never removed as a tree.
    EXPECT_EQ(removeTree(u"D:\\"), 5u);
    EXPECT_EQ(getFileAttributes(u"D:\\a.txt"), kAttrArchive);
}
