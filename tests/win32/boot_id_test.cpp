#include "platform/boot_id.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// Marks of paid traffic hold only within one boot: a boot that cannot be named, or whose name
// changes while it runs, would lose them or keep them past a restart.
TEST(BootId, NamesThisBootTheSameWayEveryTime) {
    const std::string first = BootId();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.rfind("boot-", 0), 0u) << first;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(BootId(), first);
    }
}

}  // namespace
}  // namespace kv
