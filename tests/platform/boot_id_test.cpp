#include "platform/linux/boot_id.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/boot_id.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUuid = "5b1e3c2a-7d4f-4e8b-9a61-0c2d3e4f5a6b";

// What stands at one of the two paths: nothing, a folder (which no read gets through) or a file.
struct Entry {
    enum class Kind { kAbsent, kFolder, kFile } kind = Kind::kAbsent;
    std::string text;
};

Entry Absent() {
    return {};
}
Entry Folder() {
    return {Entry::Kind::kFolder, {}};
}
Entry File(std::string text) {
    return {Entry::Kind::kFile, std::move(text)};
}

// A /proc/stat as the kernel writes it, with `btimeLine` in its place.
std::string Stat(const std::string& btimeLine) {
    return "cpu  4705 356 584 3699 23 23 0 0 0 0\n"
           "cpu0 1393280 32966 572056 13343292 6130 0 17875 0 0 0\n"
           "intr 1462898 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
           "ctxt 115315\n" +
           btimeLine +
           "processes 2915\n"
           "procs_running 1\n"
           "procs_blocked 0\n";
}

class Root {
  public:
    Root() {
        std::string name = (fs::temp_directory_path() / "kv-boot-id-XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr) {
            path_ = name;
        }
    }
    ~Root() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

    const fs::path& path() const { return path_; }

    [[nodiscard]] bool Put(const fs::path& relative, const Entry& entry) const {
        const fs::path file = path_ / relative;
        std::error_code error;
        fs::create_directories(file.parent_path(), error);
        switch (entry.kind) {
            case Entry::Kind::kAbsent:
                return !error;
            case Entry::Kind::kFolder:
                return fs::create_directory(file, error) && !error;
            case Entry::Kind::kFile: {
                std::ofstream out(file, std::ios::binary);
                out << entry.text;
                return bool(out);
            }
        }
        return false;
    }

  private:
    fs::path path_;
};

struct Case {
    const char* name;
    Entry bootId;
    Entry stat;
    std::string expected;
};

// Marks of paid traffic hold only within one boot: a boot left unnamed while the system still
// tells its boot time would have the paid traffic of this boot charged again after a restart.
TEST(BootIdUnder, NamesTheBootByTheKernelsBootIdOrElseByTheBootTime) {
    const std::string uuid = kUuid;
    const std::vector<Case> cases = {
        {"boot_id as the kernel writes it", File(uuid + "\n"), File(Stat("btime 1733780000\n")),
         uuid},
        {"boot_id without a line end", File(uuid), Absent(), uuid},
        {"boot_id among spaces and tabs", File(" \t" + uuid + " \n\n"), Absent(), uuid},
        {"boot_id empty", File(""), File(Stat("btime 1733780000\n")), "btime-1733780000"},
        {"boot_id only a line end", File("\n"), File(Stat("btime 1733780000\n")),
         "btime-1733780000"},
        {"boot_id missing", Absent(), File(Stat("btime 1733780000\n")), "btime-1733780000"},
        {"boot_id unreadable", Folder(), File(Stat("btime 1733780000\n")), "btime-1733780000"},
        {"boot_id with characters paid.dat cannot keep", File("5b1e 3c2a/../x\n"),
         File(Stat("btime 1733780000\n")), "btime-1733780000"},
        {"boot_id longer than a record keeps", File(std::string(65, 'a') + "\n"),
         File(Stat("btime 1733780000\n")), "btime-1733780000"},
        {"boot_id a UUID followed by a long tail", File(uuid + std::string(5000, ' ') + "x\n"),
         File(Stat("btime 1733780000\n")), "btime-1733780000"},
        {"btime among spaces", Absent(), File(Stat("btime \t 1733780000  \n")), "btime-1733780000"},
        {"btime on the last line without a line end", Absent(),
         File("cpu  1 2 3 4\nbtime 1733780000"), "btime-1733780000"},
        {"btime with leading zeros", Absent(), File(Stat("btime 0001733780000\n")),
         "btime-1733780000"},
        {"no btime line", Absent(), File(Stat("")), ""},
        {"btime without a value", Absent(), File(Stat("btime\n")), ""},
        {"btime with a blank value", Absent(), File(Stat("btime   \n")), ""},
        {"btime not a number", Absent(), File(Stat("btime soon\n")), ""},
        {"btime with a tail", Absent(), File(Stat("btime 1733780000s\n")), ""},
        {"btime with two values", Absent(), File(Stat("btime 1733780000 5\n")), ""},
        {"btime negative", Absent(), File(Stat("btime -1733780000\n")), ""},
        {"btime beyond 64 bits", Absent(), File(Stat("btime 184467440737095516160\n")), ""},
        {"only a longer key", Absent(), File(Stat("btimes 1733780000\n")), ""},
        {"stat garbage", Absent(), File(std::string("\x7f\x01\xff\n\n\0btime", 10)), ""},
        {"stat empty", Absent(), File(""), ""},
        {"stat missing", Absent(), Absent(), ""},
        {"stat unreadable", File(""), Folder(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Root root;
        ASSERT_FALSE(root.path().empty());
        ASSERT_TRUE(root.Put("proc/sys/kernel/random/boot_id", c.bootId));
        ASSERT_TRUE(root.Put("proc/stat", c.stat));
        EXPECT_EQ(BootIdUnder(root.path()), c.expected);
    }
}

TEST(BootId, NamesThisBootTheSameWayEveryTime) {
    const std::string first = BootId();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(BootId(), first);
    EXPECT_EQ(first, BootIdUnder("/"));
}

}  // namespace
}  // namespace kv
