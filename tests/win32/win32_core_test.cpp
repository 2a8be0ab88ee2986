#include "platform/win32/win32_core.h"

#include <gtest/gtest.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/iftable_layout.h"
#include "platform/win32/ras_layout.h"
#include "platform/win_errors.h"
#include "stats/traf_meter.h"

namespace {

namespace ras = kv::ras;
using kv::iftable::ReadU32;
using kv::iftable::WriteU32;

// What rasapi32 is made to answer, and what it was asked.
struct ScriptedRas {
    std::vector<std::uintptr_t> handles;
    DWORD enumResult = ERROR_SUCCESS;
    DWORD neededBytes = 0;  // reported with ERROR_BUFFER_TOO_SMALL
    std::vector<DWORD> hangUpResults;
    // Seen by the calls.
    int enumCalls = 0;
    DWORD firstDwSize = 0;
    DWORD offeredBytes = 0;
    std::vector<std::uintptr_t> hungUp;
};
ScriptedRas scripted;

DWORD WINAPI ScriptedEnum(LPRASCONNA conns, LPDWORD bytes, LPDWORD count) {
    ++scripted.enumCalls;
    scripted.firstDwSize = conns[0].dwSize;
    scripted.offeredBytes = *bytes;
    if (scripted.enumResult == ERROR_BUFFER_TOO_SMALL) {
        *bytes = scripted.neededBytes;
        return ERROR_BUFFER_TOO_SMALL;
    }
    if (scripted.enumResult != ERROR_SUCCESS) {
        return scripted.enumResult;
    }
    for (std::size_t i = 0; i < scripted.handles.size(); ++i) {
        conns[i].dwSize = sizeof(kv::win32::NativeConnection);
        conns[i].hrasconn = reinterpret_cast<HRASCONN>(scripted.handles[i]);
        std::snprintf(conns[i].szEntryName, sizeof conns[i].szEntryName, "entry%zu", i);
    }
    *bytes = DWORD(scripted.handles.size() * sizeof(kv::win32::NativeConnection));
    *count = DWORD(scripted.handles.size());
    return ERROR_SUCCESS;
}

DWORD WINAPI ScriptedHangUp(HRASCONN handle) {
    const std::size_t i = scripted.hungUp.size();
    scripted.hungUp.push_back(reinterpret_cast<std::uintptr_t>(handle));
    return i < scripted.hangUpResults.size() ? scripted.hangUpResults[i] : ERROR_SUCCESS;
}

// The program's hang-up: one listing into 256 entries of 412 bytes, then every connection in turn.
struct HangUpRun {
    std::uint32_t returnCode = 0;
    std::uint32_t size = 0;
    std::uint32_t count = 0;
    std::vector<std::uint32_t> tokens;
    std::vector<std::uint8_t> buffer;
};

HangUpRun HangUp(kv::win32::Core& core) {
    HangUpRun run;
    run.buffer.assign(ras::kBufferSize, 0xCD);
    WriteU32(run.buffer.data() + ras::kSizeOffset, ras::kEntrySize);
    run.size = ras::kBufferSize;
    run.returnCode = core.RasEnumConnectionsA(run.buffer.data(), &run.size, &run.count);
    if (run.returnCode != 0) {
        return run;
    }
    for (std::uint32_t i = 0; i < run.count; ++i) {
        const std::uint32_t token =
            ReadU32(run.buffer.data() + i * ras::kEntrySize + ras::kHandleOffset);
        run.tokens.push_back(token);
        run.returnCode = core.RasHangUpA(token);
    }
    return run;
}

struct RasCase {
    const char* name;
    std::vector<std::uintptr_t> handles;
    DWORD enumResult;
    DWORD neededBytes;
    std::vector<DWORD> hangUpResults;
    std::uint32_t returnCode;
    std::uint32_t size;
    std::uint32_t count;
};

class RasTranslation : public testing::TestWithParam<RasCase> {};

TEST_P(RasTranslation, HangsUpTheNativeHandlesInOrder) {
    const RasCase& c = GetParam();
    scripted = {};
    scripted.handles = c.handles;
    scripted.enumResult = c.enumResult;
    scripted.neededBytes = c.neededBytes;
    scripted.hangUpResults = c.hangUpResults;
    kv::win32::Core core({&ScriptedEnum, &ScriptedHangUp});

    const HangUpRun run = HangUp(core);

    EXPECT_EQ(scripted.firstDwSize, sizeof(kv::win32::NativeConnection));
    EXPECT_EQ(scripted.offeredBytes, ras::kEntries * sizeof(kv::win32::NativeConnection));
    EXPECT_EQ(run.returnCode, c.returnCode);
    EXPECT_EQ(run.size, c.size);
    EXPECT_EQ(run.count, c.count);
    const std::vector<std::uintptr_t> expectHungUp =
        c.enumResult == ERROR_SUCCESS ? c.handles : std::vector<std::uintptr_t>{};
    EXPECT_EQ(scripted.hungUp, expectHungUp);
    for (std::size_t i = 0; i < run.tokens.size(); ++i) {
        EXPECT_NE(run.tokens[i], 0u);
        for (std::size_t k = 0; k < i; ++k) {
            EXPECT_NE(run.tokens[i], run.tokens[k]);
        }
    }
    // Nothing is written past the entries reported.
    for (std::size_t k = c.count * ras::kEntrySize; k < run.buffer.size(); ++k) {
        const std::uint8_t expected = k < ras::kSizeOffset + 4 ? run.buffer[k] : 0xCD;
        ASSERT_EQ(run.buffer[k], expected) << "byte " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripted, RasTranslation,
    testing::Values(
        RasCase{"noConnection", {}, ERROR_SUCCESS, 0, {}, 0, 0, 0},
        RasCase{"two64BitHandles",
                {std::uintptr_t(0x7FF8'0000'1000ull), std::uintptr_t(0x1'0000'0002ull)},
                ERROR_SUCCESS,
                0,
                {},
                0,
                824,
                2},
        // The result of the last hang-up is kept, and the first failure does not stop the second.
        RasCase{"firstHangUpFails", {11, 12}, ERROR_SUCCESS, 0, {668, 0}, 0, 824, 2},
        RasCase{"lastHangUpFails", {11, 12}, ERROR_SUCCESS, 0, {0, 668}, 668, 824, 2},
        RasCase{"serviceDown", {}, 711, 0, {}, 711, ras::kBufferSize, 0},
        RasCase{"moreThanTheBufferHolds",
                {},
                ERROR_BUFFER_TOO_SMALL,
                300 * sizeof(kv::win32::NativeConnection),
                {},
                ERROR_BUFFER_TOO_SMALL,
                300 * 412,
                0}),
    [](const testing::TestParamInfo<RasCase>& info) { return std::string(info.param.name); });

TEST(RasTranslation, RefusesABufferNotInTheProgramsLayout) {
    const struct {
        std::uint32_t dwSize;
        std::uint32_t size;
    } cases[] = {{sizeof(kv::win32::NativeConnection), ras::kBufferSize},
                 {0, ras::kBufferSize},
                 {ras::kEntrySize, 411}};
    for (const auto& c : cases) {
        scripted = {};
        kv::win32::Core core({&ScriptedEnum, &ScriptedHangUp});
        std::vector<std::uint8_t> buffer(ras::kBufferSize);
        WriteU32(buffer.data(), c.dwSize);
        std::uint32_t size = c.size;
        std::uint32_t count = 7;
        EXPECT_EQ(core.RasEnumConnectionsA(buffer.data(), &size, &count),
                  DWORD(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(scripted.enumCalls, 0);
    }
}

TEST(RasTranslation, TokensOfAnEarlierListingAreRefused) {
    scripted = {};
    scripted.handles = {21};
    kv::win32::Core core({&ScriptedEnum, &ScriptedHangUp});
    const HangUpRun first = HangUp(core);
    ASSERT_EQ(first.tokens.size(), 1u);
    scripted.handles = {22};
    const HangUpRun second = HangUp(core);
    ASSERT_EQ(second.tokens.size(), 1u);
    scripted.hungUp.clear();

    EXPECT_EQ(core.RasHangUpA(first.tokens[0]), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(core.RasHangUpA(0), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(scripted.hungUp.empty());
    EXPECT_EQ(core.RasHangUpA(second.tokens[0]), 0u);
    EXPECT_EQ(scripted.hungUp, std::vector<std::uintptr_t>{22});
}

// What the program sees: the links in order with their names, each hung up through its token; a
// failed listing gives no links, its kind, and rasapi32's own number as the hang-up's result.
TEST(RasTranslation, ListsAndHangsUpByIntent) {
    using F = kv::LinkFailure;
    const struct {
        const char* name;
        std::vector<std::uintptr_t> handles;
        DWORD enumResult;
        F failure;
        std::vector<std::string> names;
    } cases[] = {
        {"none", {}, ERROR_SUCCESS, F::kNone, {}},
        {"two",
         {std::uintptr_t(0x7FF8'0000'1000ull), 12},
         ERROR_SUCCESS,
         F::kNone,
         {"entry0", "entry1"}},
        {"serviceDown", {}, ERROR_RASMAN_CANNOT_INITIALIZE, F::kNoService, {}},
        {"moreThanTheProgramTakes", {}, ERROR_BUFFER_TOO_SMALL, F::kTooMany, {}},
        {"timedOut", {}, ERROR_REQUEST_TIMEOUT, F::kNoAnswer, {}},
        // A number the program has no name for keeps its value.
        {"cannotFindEntry", {}, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, F::kFailed, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scripted = {};
        scripted.handles = c.handles;
        scripted.enumResult = c.enumResult;
        scripted.neededBytes = 300 * sizeof(kv::win32::NativeConnection);
        kv::win32::Core core({&ScriptedEnum, &ScriptedHangUp});
        kv::LinkResult result{F::kFailed, 12345};
        const std::vector<kv::DialUpLink> links = core.ListDialUpLinks(result);
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(kv::ReturnCodeOf(result), std::int32_t(c.enumResult));
        EXPECT_EQ(scripted.offeredBytes, ras::kEntries * sizeof(kv::win32::NativeConnection));
        std::vector<std::string> names;
        for (const kv::DialUpLink& link : links) {
            names.push_back(link.name);
            EXPECT_EQ(kv::ReturnCodeOf(core.HangUp(link)), 0);
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(scripted.hungUp,
                  c.enumResult == ERROR_SUCCESS ? c.handles : std::vector<std::uintptr_t>{});
    }
}

// A hang-up keeps rasapi32's number, and a token of no listing is the program's own refusal.
TEST(RasTranslation, AHangUpKeepsRasapi32sNumber) {
    scripted = {};
    scripted.handles = {31, 32};
    scripted.hangUpResults = {ERROR_NO_CONNECTION, ERROR_ACCESS_DENIED};
    kv::win32::Core core({&ScriptedEnum, &ScriptedHangUp});
    kv::LinkResult listed;
    const std::vector<kv::DialUpLink> links = core.ListDialUpLinks(listed);
    ASSERT_EQ(links.size(), 2u);

    const kv::LinkResult lost = core.HangUp(links[0]);
    const kv::LinkResult refused = core.HangUp(links[1]);
    const kv::LinkResult stale = core.HangUp({links[1].token + 100, "stale"});

    EXPECT_EQ(lost.failure, kv::LinkFailure::kFailed);
    EXPECT_EQ(kv::ReturnCodeOf(lost), ERROR_NO_CONNECTION);
    EXPECT_EQ(refused.failure, kv::LinkFailure::kRefused);
    EXPECT_EQ(kv::ReturnCodeOf(refused), ERROR_ACCESS_DENIED);
    EXPECT_EQ(stale.failure, kv::LinkFailure::kGone);
    EXPECT_EQ(kv::ReturnCodeOf(stale), ERROR_INVALID_HANDLE);
    EXPECT_EQ(scripted.hungUp, (std::vector<std::uintptr_t>{31, 32}));
}

// Wine's rasapi32 knows no connections: the hang-up must come back with nothing to do, whether
// it reports success with none or an error.
TEST(SystemRas, HangUpWithoutConnectionsGoesOn) {
    kv::win32::Core core;
    const HangUpRun run = HangUp(core);
    EXPECT_EQ(run.count, 0u);
    EXPECT_TRUE(run.tokens.empty());
    if (run.returnCode == 0) {
        EXPECT_EQ(run.size, 0u);
    }
    EXPECT_EQ(core.RasHangUpA(1), DWORD(ERROR_INVALID_HANDLE));
}

TEST(SystemIfTable, SizeQueryThenFill) {
    kv::win32::Core core;
    std::uint32_t size = 0;
    ASSERT_EQ(core.GetIfTable(nullptr, &size, false), kv::win::kErrorInsufficientBuffer);
    ASSERT_GE(size, kv::iftable::TableSize(1));

    std::vector<std::uint8_t> small(kv::iftable::kHeaderSize);
    std::uint32_t smallSize = std::uint32_t(small.size());
    EXPECT_EQ(core.GetIfTable(small.data(), &smallSize, false), kv::win::kErrorInsufficientBuffer);
    EXPECT_EQ(smallSize, size);

    std::vector<std::uint8_t> table(size);
    ASSERT_EQ(core.GetIfTable(table.data(), &size, false), kv::win::kNoError);
    const std::uint32_t rows = ReadU32(table.data());
    ASSERT_GE(rows, 1u);
    EXPECT_LE(kv::iftable::TableSize(rows), table.size());
    bool loopback = false;
    for (std::uint32_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + kv::iftable::RowOffset(i);
        EXPECT_LE(ReadU32(row + kv::iftable::kDescrLenOffset), kv::iftable::kDescrSize);
        EXPECT_LE(ReadU32(row + kv::iftable::kPhysAddrLenOffset), kv::iftable::kPhysAddrSize);
        loopback |= ReadU32(row + kv::iftable::kTypeOffset) == kv::iftable::kTypeLoopback;
    }
    EXPECT_TRUE(loopback);

    // The program's reader takes the same rows.
    kv::TrafMeter meter(core);
    meter.GetIPStats();
    EXPECT_EQ(meter.ControllerCount(), std::int32_t(rows));
}

// "Беспроводное соединение" as a Russian Windows writes it (code page 1251).
const std::string kWireless1251 =
    "\xc1\xe5\xf1\xef\xf0\xee\xe2\xee\xe4\xed\xee\xe5\x20\xf1\xee\xe5\xe4\xe8\xed\xe5\xed\xe8\xe5";
const std::string kB1251 = "\xc1";  // "Б"

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

TEST(DescriptionToUtf8, ConvertsTheAnsiCodePageAndCutsBetweenLetters) {
    const std::string x255 = std::string(255, 'x');
    const struct {
        const char* name;
        std::string field;
        std::uint32_t length;
        std::string expected;
    } cases[] = {
        {"cyrillic", kWireless1251, std::uint32_t(kWireless1251.size()), "Беспроводное соединение"},
        {"ascii", "Realtek PCIe GbE Family Controller", 34, "Realtek PCIe GbE Family Controller"},
        {"countedNul", std::string("lo\0", 3), 3, std::string("lo\0", 3)},
        {"onlyTheCountedBytes", kWireless1251, 1, "Б"},
        {"empty", "", 0, ""},
        // 255 + 2 bytes do not fit: the letter is dropped whole, not halved.
        {"cutInsideALetter", x255 + kB1251, 256, x255},
        {"lastLetterFitsExactly", std::string(254, 'x') + "\xc1\xe2", 256,
         std::string(254, 'x') + "Б"},
        {"fullFieldOfLetters", Repeat(kB1251, 256), 256, Repeat("Б", 128)},
        {"oddByteBeforeLetters", "x" + Repeat(kB1251, 255), 256, "x" + Repeat("Б", 127)},
        // A length past the field counts only the field.
        {"lengthPastTheField", Repeat(kB1251, 256), 1000, Repeat("Б", 128)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> field(kv::iftable::kDescrSize + 4, 0xEE);
        std::memcpy(field.data(), c.field.data(), c.field.size());
        const std::uint32_t length = kv::win32::DescriptionToUtf8(field.data(), c.length, 1251);
        ASSERT_EQ(length, c.expected.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(field.data()), length), c.expected);
        for (std::size_t k = length; k < field.size(); ++k) {
            ASSERT_EQ(field[k], k < kv::iftable::kDescrSize ? 0 : 0xEE) << "byte " << k;
        }
    }
}

TEST(DescriptionToUtf8, EveryRowOfTheTableAndNoFurther) {
    // The count claims a third row the buffer has no room for.
    std::vector<std::uint8_t> table(kv::iftable::TableSize(2) + 100, 0xEE);
    WriteU32(table.data(), 3);
    const std::string descr[] = {kWireless1251, "Loopback"};
    for (std::size_t i = 0; i < 2; ++i) {
        std::uint8_t* row = table.data() + kv::iftable::RowOffset(i);
        WriteU32(row + kv::iftable::kIndexOffset, std::uint32_t(i + 1));
        WriteU32(row + kv::iftable::kDescrLenOffset, std::uint32_t(descr[i].size()));
        std::memcpy(row + kv::iftable::kDescrOffset, descr[i].data(), descr[i].size());
    }
    const std::vector<std::uint8_t> before = table;

    kv::win32::DescriptionsToUtf8(table.data(), std::uint32_t(table.size()), 1251);

    const std::string expected[] = {"Беспроводное соединение", "Loopback"};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::uint8_t* row = table.data() + kv::iftable::RowOffset(i);
        const std::uint32_t length = ReadU32(row + kv::iftable::kDescrLenOffset);
        EXPECT_EQ(
            std::string(reinterpret_cast<const char*>(row + kv::iftable::kDescrOffset), length),
            expected[i]);
        EXPECT_TRUE(std::equal(row, row + kv::iftable::kDescrLenOffset,
                               before.data() + kv::iftable::RowOffset(i)))
            << "row " << i << " changed before its description";
    }
    EXPECT_TRUE(std::equal(table.begin() + kv::iftable::TableSize(2), table.end(),
                           before.begin() + kv::iftable::TableSize(2)));
}

// Wine's descriptions are the interfaces' ASCII names: the backend hands them over unchanged.
TEST(SystemIfTable, AsciiDescriptionsPassUnchanged) {
    std::uint32_t size = 0;
    kv::win32::Core core;
    ASSERT_EQ(core.GetIfTable(nullptr, &size, false), kv::win::kErrorInsufficientBuffer);
    std::vector<std::uint8_t> raw(size * 2), converted(size * 2);
    ULONG rawSize = ULONG(raw.size());
    ASSERT_EQ(::GetIfTable(reinterpret_cast<PMIB_IFTABLE>(raw.data()), &rawSize, FALSE), 0u);
    std::uint32_t convertedSize = std::uint32_t(converted.size());
    ASSERT_EQ(core.GetIfTable(converted.data(), &convertedSize, false), kv::win::kNoError);

    const std::uint32_t rows = ReadU32(raw.data());
    ASSERT_EQ(ReadU32(converted.data()), rows);
    for (std::uint32_t i = 0; i < rows; ++i) {
        const std::uint8_t* a = raw.data() + kv::iftable::RowOffset(i);
        const std::uint8_t* b = converted.data() + kv::iftable::RowOffset(i);
        EXPECT_EQ(ReadU32(b + kv::iftable::kIndexOffset), ReadU32(a + kv::iftable::kIndexOffset));
        EXPECT_TRUE(std::equal(a + kv::iftable::kDescrLenOffset,
                               a + kv::iftable::kDescrOffset + kv::iftable::kDescrSize,
                               b + kv::iftable::kDescrLenOffset))
            << "row " << i;
    }
}

// What the title calls are made to answer: a title that may change between the length and the
// read.
struct ScriptedTitle {
    bool player = true;
    std::wstring announced;
    std::wstring read;
};
ScriptedTitle title;

HWND WINAPI ScriptedFind(LPCSTR className, LPCSTR) {
    return title.player && std::strcmp(className, kv::win32::kPlayerWindowClass) == 0
               ? reinterpret_cast<HWND>(std::uintptr_t(0x40))
               : nullptr;
}
int WINAPI ScriptedLength(HWND) {
    return int(title.announced.size());
}
int WINAPI ScriptedText(HWND, LPWSTR buffer, int size) {
    const int n = std::min(int(title.read.size()), size - 1);
    std::copy_n(title.read.data(), n, buffer);
    buffer[n] = L'\0';
    return n;
}

TEST(PlayerTitle, KeepsTheAnnouncedLengthWhenTheTitleChangesMeanwhile) {
    const struct {
        const char* name;
        ScriptedTitle script;
        std::optional<std::string> expected;
    } cases[] = {
        {"noPlayer", {false, L"x", L"x"}, std::nullopt},
        {"steady", {true, L"1. Кино", L"1. Кино"}, "1. Кино"},
        {"shrank", {true, L"Song!!", L"Song"}, std::string("Song\0\0", 6)},
        {"grew", {true, L"Song", L"Songs"}, "Song"},
        {"empty", {true, L"", L""}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        title = c.script;
        kv::win32::Core core({&ScriptedEnum, &ScriptedHangUp},
                             {&ScriptedFind, &ScriptedLength, &ScriptedText});
        EXPECT_EQ(core.PlayerTitle(), c.expected);
    }
}

// A window of the player's class in this process, found and read through the backend.
class PlayerWindow : public testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kv::win32::kPlayerWindowClass;
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, kv::win32::kPlayerWindowClass, "", WS_OVERLAPPEDWINDOW, 0, 0,
                                  100, 100, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    void SetTitle(const char* utf8) {
        ASSERT_TRUE(SetWindowTextW(window_, kv::win32::Widen(utf8).c_str()));
    }
    HWND window_ = nullptr;
};

TEST_F(PlayerWindow, TitlesArriveAsUtf8) {
    kv::win32::Core core;
    for (const char* title : {"12. Artist - Song - Winamp",
                              "1. Кино - Группа крови - Winamp [Paused]", "1. Кино", ""}) {
        SCOPED_TRACE(title);
        SetTitle(title);
        EXPECT_EQ(core.PlayerTitle(), std::optional<std::string>(title));
    }
}

}  // namespace
