// orvane-scan --folder over a tree built to break a scanner: link loops and
// a link to /, a FIFO and a socket, a file that keeps vanishing, a folder
// nested past PATH_MAX, hostile names, size edges, sparse giants, archive
// nests past the depth limit, archives holding an earlier copy of
// themselves, entries that climb out with "../" or name absolute paths, and
// symbolic links inside archives. Known malware is planted among them; the
// run must end in bounded time, find exactly what it should, write nothing
// outside its extraction folders and leave its temp folder empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/hash_db_format.h"
#include "common/registry_names.h"
#include "shared/stored_database.h"
#include "tools/child_run_support.h"
#include "tools/registry_tool_support.h"
#include "tools/tools_test_support.h"

namespace fs = std::filesystem;

namespace {

// How long the whole run may take before it counts as a hang.
constexpr int kRunLimitSeconds = 240;

// A stored (uncompressed) ZIP whose entry names and Unix modes are exactly
// as given: 7-Zip would never write "../" or absolute names itself.
struct ZipEntry {
    std::string name;
    std::string data;
    uint32_t mode = 0100644;  // S_IFLNK | 0777 (0120777) for a link whose data is its target
};

uint32_t Crc32(const std::string& data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void Put16(std::string& out, uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string StoredZip(const std::vector<ZipEntry>& entries) {
    std::string body, central;
    for (const ZipEntry& e : entries) {
        const uint32_t offset = static_cast<uint32_t>(body.size());
        const uint32_t crc = Crc32(e.data), size = static_cast<uint32_t>(e.data.size());
        Put32(body, 0x04034B50);
        Put16(body, 10);
        Put16(body, 0);
        Put16(body, 0);  // stored
        Put32(body, 0);  // time and date
        Put32(body, crc);
        Put32(body, size);
        Put32(body, size);
        Put16(body, static_cast<uint32_t>(e.name.size()));
        Put16(body, 0);
        body += e.name + e.data;

        Put32(central, 0x02014B50);
        Put16(central, 0x0314);  // made by Unix, 2.0
        Put16(central, 10);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, crc);
        Put32(central, size);
        Put32(central, size);
        Put16(central, static_cast<uint32_t>(e.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, e.mode << 16);
        Put32(central, offset);
        central += e.name;
    }
    std::string out = body + central;
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, static_cast<uint32_t>(body.size()));
    Put16(out, 0);
    return out;
}

void WriteBytes(const fs::path& file, const std::string& content) {
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

// Malware whose content carries a tag; the files' names carry it too, so
// that the findings can be told apart ("qz" and two characters: the scan
// reports custom paths in lower case).
std::string Malware(const std::string& tag) { return "planted malware " + tag + "\n"; }

// The tags in the names of the findings ("path" members of orvane-scan's JSON).
std::multiset<std::string> FoundTags(const std::string& json) {
    std::multiset<std::string> tags;
    const std::string key = "{\"path\":\"";
    for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        const size_t end = json.find("\",", at + key.size());
        std::string path = json.substr(at + key.size(), end - at - key.size());
        // A member of an archive carries its name in the location text.
        const std::string member = "\"location\":\"archive member: ";
        const size_t located = json.find(member, at);
        if (located != std::string::npos && located < json.find('}', at)) {
            const size_t from = located + member.size();
            path = json.substr(from, json.find('"', from) - from);
            const size_t inner = path.rfind(" > ");
            if (inner != std::string::npos) path = path.substr(inner + 3);
        }
        // Only the file's own name: a folder's random name may hold "qz"
        // too. A separator is an escaped backslash in the JSON text, or a
        // slash inside an archive.
        const auto after = [&](const std::string& separator) {
            const size_t at = path.rfind(separator);
            return at == std::string::npos ? 0 : at + separator.size();
        };
        const std::string name = path.substr(std::max(after("\\\\"), after("/")));
        for (size_t t = name.find("qz"); t != std::string::npos; t = name.find("qz", t + 1)) {
            if (t + 4 <= name.size()) tags.insert(name.substr(t, 4));
        }
    }
    return tags;
}

// Folders chained below a start until the path is longer than PATH_MAX,
// made and removed through relative names (the full path is too long for
// the kernel to take at once).
class DeepChain {
public:
    static constexpr int kLevels = 24;  // 24 * 201 bytes > PATH_MAX (4096)

    explicit DeepChain(const fs::path& start) : m_start(start) {
        const fs::path previous = fs::current_path();
        fs::current_path(start);
        for (int i = 0; i < kLevels; ++i) {
            fs::create_directory(kLink);
            fs::current_path(kLink);
        }
        WriteBytes("deep.exe", Malware("qzzz"));
        fs::current_path(previous);
    }
    ~DeepChain() {
        const fs::path previous = fs::current_path();
        std::error_code ec;
        fs::current_path(m_start, ec);
        for (int i = 0; i < kLevels && !ec; ++i) fs::current_path(kLink, ec);
        fs::remove("deep.exe", ec);
        for (int i = 0; i < kLevels; ++i) {
            fs::current_path("..", ec);
            fs::remove(kLink, ec);
        }
        fs::current_path(previous, ec);
    }

private:
    static inline const std::string kLink = std::string(200, 'd');
    fs::path m_start;
};

class HostileTree : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(std::string(OV_BIN_DIR) + "/orvane-scan") ||
            !fs::exists(std::string(OV_BIN_DIR) + "/libov_core.so"))
            GTEST_SKIP() << "orvane-scan and libov_core.so are not built";
        if (!fs::exists("/usr/bin/7zz")) GTEST_SKIP() << "/usr/bin/7zz is not installed";
        m_tree = m_install.root() / "tree";
        m_temp = m_install.root() / "temp";
        fs::create_directories(m_tree);
        fs::create_directories(m_temp);
        fs::create_directories(m_install.root() / "run");
        m_install.setSetting(names::kScanArchives, 1);
        m_install.setSetting(names::kSmartExt, 1);
        m_install.setSetting(names::kDebug, 1);
    }

    // Writes a file and records its content's MD5 in the database.
    void plant(const fs::path& file, const std::string& content) {
        WriteBytes(file, content);
        // md5sum escapes the digest of a name with a newline or backslash:
        // the content is hashed under a plain name.
        const fs::path plain = m_install.root() / "hash-me";
        WriteBytes(plain, content);
        plantExisting(plain);
        fs::remove(plain);
    }
    void plantExisting(const fs::path& file) { m_hashes.push_back(toolstest::Md5Upper(file)); }
    void writeDatabase() {
        std::string error;
        ASSERT_TRUE(
            ovtest::writeDatabaseFile(m_install.database(), ovtest::databaseText(m_hashes), error))
            << error;
    }
    void archive(const fs::path& archive, const fs::path& from,
                 const std::vector<std::string>& members, bool keepLinks = false) {
        std::vector<std::string> args = {"a", "-bd", "-tzip"};
        if (keepLinks) args.push_back("-snl");
        args.push_back("--");
        args.push_back(archive.string());
        for (const std::string& m : members) args.push_back((from / m).string());
        regtool::ToolRun made = regtool::runTool("/usr/bin/7zz", args);
        ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
    }

    toolstest::TempInstall m_install;
    fs::path m_tree;
    fs::path m_temp;
    std::vector<std::string> m_hashes;
};

TEST_F(HostileTree, ScanEndsFindsThePlantedFilesAndWritesNothingOutside) {
    const fs::path root = m_install.root();
    const fs::path work = root / "work";
    fs::create_directories(work);
    std::set<std::string> expected;  // tags that must be found once each
    auto plantFound = [&](const fs::path& file, const std::string& tag) {
        plant(file, Malware(tag));
        expected.insert(tag);
    };

    // Links: a loop back to the tree, a link to /, a dangling link, and a
    // link to planted malware outside the tree (not part of the scan).
    fs::create_directory_symlink(m_tree, m_tree / "loop");
    fs::create_directory_symlink("/", m_tree / "root");
    fs::create_symlink(root / "nowhere.exe", m_tree / "dangling.exe");
    // A link to a file is scanned through, as the file it names.
    plantFound(root / "outside" / "outside.exe", "qzo1");
    fs::create_symlink(root / "outside" / "outside.exe", m_tree / "qzo1-link.exe");

    // Special files with listed extensions: a FIFO (opening it would block)
    // and a socket.
    ASSERT_EQ(::mkfifo((m_tree / "pipe.exe").c_str(), 0600), 0);
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string socketPath = (m_tree / "sock.exe").string();
        ASSERT_LT(socketPath.size(), sizeof address.sun_path);
        std::strcpy(address.sun_path, socketPath.c_str());
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(s, 0);
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(s);
    }

    // Hostile names, each holding planted malware.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"qzn1 new\nline.exe", "qzn1"},
        {"qzn2 pipe|bar.exe", "qzn2"},
        {"qzn3 %s%n%x%p.exe", "qzn3"},
        {"~qzn4.exe", "qzn4"},
        {"qzn5 bad\xff\xfe\x80.exe", "qzn5"},
        {"qzn6 back\\slash.exe", "qzn6"},
        {"qzn7 \r\t.exe", "qzn7"},
    };
    for (const auto& [name, tag] : names) plantFound(m_tree / "names" / name, tag);
    {
        std::string longName = "qzn8" + std::string(247, 'L') + ".exe";
        ASSERT_EQ(longName.size(), 255u);
        plantFound(m_tree / "names" / longName, "qzn8");
    }
    plantFound(m_tree / "names" / "bad\xff-folder\n" / "qzn9.exe", "qzn9");

    // Sizes: the hashing limit is 5 MiB, exclusive.
    std::string justUnder(5 * 1024 * 1024 - 1, 'u');
    justUnder.replace(0, 4, "qzs1");
    plant(m_tree / "sizes" / "qzs1-under.exe", justUnder);
    expected.insert("qzs1");
    std::string exact(5 * 1024 * 1024, 'e');
    plant(m_tree / "sizes" / "qzs2 exact.exe", exact);    // not hashed: not found
    plant(m_tree / "sizes" / "qzs3 empty.exe", "");     // hashed like any other file: found
    expected.insert("qzs3");
    {
        std::ofstream(m_tree / "sizes" / "sparse.exe").close();
        fs::resize_file(m_tree / "sizes" / "sparse.exe", uint64_t(4) << 40);  // 4 TiB of holes
    }

    // Archives nested ten deep, malware at each level: the levels down to
    // the depth limit (8) are found, the two below are not.
    {
        fs::path inner;
        for (int level = 10; level >= 1; --level) {
            const std::string tag =
                "qz" + std::string(level < 10 ? "a" : "b") + std::to_string(level % 10);
            const fs::path levelFolder = work / ("level" + std::to_string(level));
            plant(levelFolder / (tag + ".exe"), Malware(tag));
            if (level <= 8) expected.insert(tag);
            std::vector<std::string> members = {tag + ".exe"};
            if (!inner.empty()) {
                fs::copy_file(inner, levelFolder / inner.filename());
                members.push_back(inner.filename().string());
            }
            const fs::path made = work / ("nest" + std::to_string(level) + ".zip");
            archive(made, levelFolder, members);
            inner = made;
        }
        fs::create_directories(m_tree / "nest");
        fs::copy_file(inner, m_tree / "nest" / "nest1.zip");
    }

    // An archive holding earlier copies of itself under its own name.
    {
        plantFound(work / "self" / "qzc1.exe", "qzc1");
        for (int copy = 0; copy < 4; ++copy) {
            archive(work / "self.zip.new", work / "self",
                    fs::exists(work / "self" / "self.zip")
                        ? std::vector<std::string>{"qzc1.exe", "self.zip"}
                        : std::vector<std::string>{"qzc1.exe"});
            fs::rename(work / "self.zip.new", work / "self" / "self.zip");
        }
        fs::create_directories(m_tree / "self");
        fs::copy_file(work / "self" / "self.zip", m_tree / "self" / "self.zip");
    }

    // Entries that climb out or name absolute places; markers they would
    // overwrite.
    const std::string markerText = "marker: must stay as it is\n";
    const std::vector<fs::path> markers = {root / "qzx2.exe", m_tree / "qzx4.txt"};
    for (const fs::path& m : markers) WriteBytes(m, markerText);
    const fs::path absolute = root / "qzx5-absolute.exe";
    WriteBytes(m_tree / "climb" / "climb.zip",
               StoredZip({
                   {"../qzx1.exe", Malware("qzx1")},  // the temp folder itself
                   {"../../qzx2.exe", Malware("qzx2")},
                   {"../../../../../../../../../../tmp/qzx3-escaped.exe", Malware("qzx3")},
                   {"../../tree/qzx4.txt", Malware("qzx4")},
                   {absolute.string(), Malware("qzx5")},
                   {"fine/qzx6.exe", Malware("qzx6")},
               }));
    for (const char* tag : {"qzx1", "qzx2", "qzx3", "qzx4", "qzx5", "qzx6"})
        plant(work / tag, Malware(tag));
    // 7-Zip drops the "../" steps and the leading "/": each entry lands
    // inside the extraction folder and is found there.
    for (const char* tag : {"qzx1", "qzx2", "qzx3", "qzx5", "qzx6"}) expected.insert(tag);

    // Links inside archives: to /etc/shadow, to the planted outside file,
    // and a link followed by an entry written through it.
    WriteBytes(m_tree / "links" / "links.zip",
               StoredZip({
                   {"shadow.exe", "/etc/shadow", 0120777},
                   {"qzl1-outside.exe", (root / "outside" / "outside.exe").string(), 0120777},
                   {"up", root.string(), 0120777},
                   {"up/qzl2-through-link.exe", Malware("qzl2")},
                   {"qzl3.exe", Malware("qzl3")},
               }));
    plant(work / "qzl2", Malware("qzl2"));
    plant(work / "qzl3", Malware("qzl3"));
    expected.insert("qzl3");

    // The 7-Zip way to store a link, as a real archive of a tree would.
    fs::create_directories(work / "linked");
    fs::create_symlink(root / "outside" / "outside.exe", work / "linked" / "qzl4.exe");
    archive(m_tree / "links" / "snl.zip", work / "linked", {"qzl4.exe"}, true);

    plant(work / "qzzz", Malware("qzzz"));  // below the deep chain, past the path limit
    plant(work / "qzf1", Malware("qzf1"));  // the flickering file's content is known malware
    writeDatabase();
    DeepChain deep(m_tree);

    // A file that keeps appearing and vanishing while the tree is walked.
    std::atomic<bool> stop{false};
    std::thread flicker([&] {
        // Written beside the tree and renamed into it: whenever it is
        // there, it is there whole.
        const fs::path file = m_tree / "qzf1-flicker.exe";
        const fs::path whole = work / "qzf1-flicker.new";
        while (!stop) {
            WriteBytes(whole, Malware("qzf1"));
            std::error_code ec;
            fs::rename(whole, file, ec);
            fs::remove(file, ec);
        }
    });

    std::set<std::string> parentBefore;
    for (const auto& entry : fs::directory_iterator(root))
        parentBefore.insert(entry.path().string());

    const std::string oldTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    const bool hadTmp = std::getenv("TMPDIR") != nullptr;
    ::setenv("TMPDIR", m_temp.c_str(), 1);
    // Root extracts archives in the runtime folder: one inside the install.
    ::setenv("ORVANE_RUNTIME_DIR", (m_install.root() / "run").c_str(), 1);
    const auto started = std::chrono::steady_clock::now();
    tooltest::ChildResult run = tooltest::runChild({"orvane-scan",
                            {"--json", "--folder", m_tree.string()},
                            "",
                            std::chrono::seconds(kRunLimitSeconds)});
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    if (hadTmp) {
        ::setenv("TMPDIR", oldTmp.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    ::unsetenv("ORVANE_RUNTIME_DIR");
    stop = true;
    flicker.join();

    EXPECT_EQ(run.exitCode, 1) << "ran " << seconds << " s\n" << run.out << run.err;
    EXPECT_LT(seconds, kRunLimitSeconds);

    std::multiset<std::string> found = FoundTags(run.out);
    // The flickering file may be caught while it exists, but once at most.
    const size_t flickerFound = found.erase("qzf1");
    EXPECT_LE(flickerFound, 1u) << run.out;
    EXPECT_EQ(found, std::multiset<std::string>(expected.begin(), expected.end())) << run.out;
    EXPECT_NE(run.out.find("\"infected\":" + std::to_string(expected.size() + flickerFound) + ","),
              std::string::npos)
        << run.out;
    // The dangling link was met and passed over (the walk's trace, in the
    // report log with Debug on).
    const std::vector<fs::path> logs = m_install.reportLogs();
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = toolstest::ReadFile(logs[0]);
    EXPECT_NE(log.find("FindF: File: " + toolstest::WindowsForm(m_tree / "dangling.exe")),
              std::string::npos);

    for (const fs::path& m : markers) EXPECT_EQ(toolstest::ReadFile(m), markerText) << m;
    EXPECT_FALSE(fs::exists(absolute));
    EXPECT_FALSE(fs::exists("/tmp/qzx3-escaped.exe"));
    EXPECT_FALSE(fs::exists(root / "qzl2-through-link.exe"));
    std::set<std::string> parentAfter;
    for (const auto& entry : fs::directory_iterator(root))
        parentAfter.insert(entry.path().string());
    EXPECT_EQ(parentAfter, parentBefore);
    EXPECT_TRUE(fs::is_empty(m_temp)) << "the run left files in its TMPDIR";
    std::error_code ignored;
    EXPECT_TRUE(fs::is_empty(m_install.root() / "run" / "extract", ignored))
        << "the run left extraction folders";
}

}  // namespace
