#include "platform/win32/ras_translate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/ras_layout.h"

namespace {

using kv::ras::ReadU32;
namespace ras = kv::ras;

std::string Field(const std::uint8_t* entry, std::size_t offset, std::size_t size) {
    const char* at = reinterpret_cast<const char*>(entry + offset);
    return std::string(at, ::strnlen(at, size));
}

struct Native {
    std::uintptr_t handle;
    std::string entryName;
    std::string deviceType;
    std::string deviceName;
    // Written without a terminating NUL, filling the whole field, as a careless driver might.
    bool unterminated = false;
};

struct Expected {
    std::string entryName;
    std::string deviceType;
    std::string deviceName;
};

struct Case {
    const char* name;
    std::vector<Native> native;
    std::vector<Expected> expected;
};

void Fill(char* field, std::size_t size, const std::string& text, bool unterminated) {
    std::memset(field, 0, size);
    if (unterminated) {
        std::memset(field, text.empty() ? 'x' : text[0], size);
    } else {
        std::memcpy(field, text.data(), std::min(text.size(), size - 1));
    }
}

class WriteEntriesTest : public testing::TestWithParam<Case> {};

TEST_P(WriteEntriesTest, EntriesLandAtTheProgramsOffsets) {
    const Case& c = GetParam();
    std::vector<kv::win32::NativeConnection> native(c.native.size());
    for (std::size_t i = 0; i < native.size(); ++i) {
        kv::win32::NativeConnection& n = native[i];
        std::memset(&n, 0xEE, sizeof n);  // fields the program does not read must not leak
        n.dwSize = sizeof(kv::win32::NativeConnection);
        n.hrasconn = reinterpret_cast<HRASCONN>(c.native[i].handle);
        Fill(n.szEntryName, sizeof n.szEntryName, c.native[i].entryName, c.native[i].unterminated);
        Fill(n.szDeviceType, sizeof n.szDeviceType, c.native[i].deviceType,
             c.native[i].unterminated);
        Fill(n.szDeviceName, sizeof n.szDeviceName, c.native[i].deviceName,
             c.native[i].unterminated);
    }
    // One spare entry, pre-filled, shows the translation stops at the count.
    std::vector<std::uint8_t> buffer((native.size() + 1) * ras::kEntrySize, 0xAB);
    kv::win32::WriteEntries(native.data(), native.size(), buffer.data(), 70);

    for (std::size_t i = 0; i < native.size(); ++i) {
        SCOPED_TRACE(i);
        const std::uint8_t* entry = buffer.data() + i * ras::kEntrySize;
        EXPECT_EQ(ReadU32(entry + ras::kSizeOffset), ras::kEntrySize);
        EXPECT_EQ(ReadU32(entry + ras::kHandleOffset), 70 + i);
        EXPECT_EQ(Field(entry, ras::kEntryNameOffset, ras::kEntryNameSize),
                  c.expected[i].entryName);
        EXPECT_EQ(Field(entry, ras::kDeviceTypeOffset, ras::kDeviceTypeSize),
                  c.expected[i].deviceType);
        EXPECT_EQ(Field(entry, ras::kDeviceNameOffset, ras::kDeviceNameSize),
                  c.expected[i].deviceName);
        // Every field keeps its terminator and the padding byte is clean.
        EXPECT_EQ(entry[ras::kEntryNameOffset + ras::kEntryNameSize - 1], 0);
        EXPECT_EQ(entry[ras::kDeviceTypeOffset + ras::kDeviceTypeSize - 1], 0);
        EXPECT_EQ(entry[ras::kDeviceNameOffset + ras::kDeviceNameSize - 1], 0);
        EXPECT_EQ(entry[ras::kEntrySize - 1], 0);
    }
    const std::uint8_t* spare = buffer.data() + native.size() * ras::kEntrySize;
    for (std::size_t k = 0; k < ras::kEntrySize; ++k) {
        ASSERT_EQ(spare[k], 0xAB) << "byte " << k << " past the last entry";
    }
}

const std::string k256(256, 'n');
const std::string k16(16, 't');
const std::string k128(128, 'd');

INSTANTIATE_TEST_SUITE_P(
    Ras, WriteEntriesTest,
    testing::Values(
        Case{"none", {}, {}},
        Case{"one",
             {{0x1234, "Провайдер", "modem", "Standard 56000 bps Modem"}},
             {{"Провайдер", "modem", "Standard 56000 bps Modem"}}},
        // x64 handles do not fit the 32-bit field; tokens stand in for them.
        Case{"wideHandles",
             {{std::uintptr_t(0x7FF8'1234'5678ull), "a", "vpn", "WAN Miniport (PPTP)"},
              {std::uintptr_t(0xFFFF'FFFF'0000'0001ull), "b", "pppoe", "WAN Miniport (PPPOE)"}},
             {{"a", "vpn", "WAN Miniport (PPTP)"}, {"b", "pppoe", "WAN Miniport (PPPOE)"}}},
        Case{"longestNames", {{1, k256, k16, k128}}, {{k256, k16, k128}}},
        Case{"unterminated",
             {{1, "e", "t", "d", true}},
             {{std::string(256, 'e'), std::string(16, 't'), std::string(128, 'd')}}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(RasCallerBytes, RoundsNativeEntriesUpToWholeEntries) {
    const std::uint32_t native = sizeof(kv::win32::NativeConnection);
    const struct {
        DWORD nativeBytes;
        std::uint32_t callerBytes;
    } cases[] = {
        {0, 0},
        {native, 412},
        {native + 1, 824},
        {2 * native, 824},
        {256 * native, 105472},
        {257 * native, 105884},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kv::win32::CallerBytes(c.nativeBytes), c.callerBytes) << c.nativeBytes;
    }
}

}  // namespace
