#include "platform/win32/win32_core.h"

#include <gtest/gtest.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/ras_layout.h"
#include "stats/traf_meter.h"

namespace {

namespace ras = kv::ras;
using kv::ras::ReadU32;
using kv::ras::WriteU32;

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

// A MIB_IFTABLE as GetIfTable fills it, in the SDK's own layout.
struct RawTable {
    explicit RawTable(DWORD rows) : bytes(offsetof(MIB_IFTABLE, table) + rows * sizeof(MIB_IFROW)) {
        reinterpret_cast<MIB_IFTABLE*>(bytes.data())->dwNumEntries = rows;
    }
    MIB_IFROW& Row(DWORD i) { return reinterpret_cast<MIB_IFTABLE*>(bytes.data())->table[i]; }
    void Describe(DWORD i, const std::string& text, DWORD length) {
        std::memcpy(Row(i).bDescr, text.data(), std::min<std::size_t>(text.size(), MAXLEN_IFDESCR));
        Row(i).dwDescrLen = length;
    }
    std::vector<std::uint8_t> bytes;
};

kv::InterfaceTable Parsed(const RawTable& raw, bool* ok = nullptr) {
    kv::InterfaceTable table;
    const bool parsed = kv::win32::ParseIfTable(raw.bytes.data(), raw.bytes.size(), 1251, table);
    if (ok != nullptr) {
        *ok = parsed;
    }
    return table;
}

TEST(ParseIfTable, ReadsTheRowsAtTheSdksOffsets) {
    RawTable raw(40);
    for (DWORD i = 0; i < 40; ++i) {
        raw.Row(i).dwIndex = 100 + i;
        raw.Row(i).dwInOctets = i * 10;
        raw.Row(i).dwOutOctets = 0xFFFFFFFF;
        raw.Row(i).dwSpeed = 100000000;
        raw.Describe(i, "if" + std::to_string(i), DWORD(2 + std::to_string(i).size()));
    }
    // The count, then 39 rows of 860 bytes.
    ASSERT_EQ(reinterpret_cast<std::uint8_t*>(&raw.Row(39)) - raw.bytes.data(), 33544);
    bool ok = false;
    const kv::InterfaceTable table = Parsed(raw, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(table.counterBits, 32);
    ASSERT_EQ(table.rows.size(), 40u);
    const kv::InterfaceRow& last = table.rows[39];
    EXPECT_EQ(last.index, 139u);
    EXPECT_EQ(last.description, "if39");
    EXPECT_EQ(last.received, 390u);
    EXPECT_EQ(last.sent, 4294967295u);
    EXPECT_EQ(last.speed, 100000000u);
}

TEST(ParseIfTable, LengthsAreTakenAsWindowsMeansThem) {
    const struct {
        const char* name;
        DWORD addressLength;
        std::string descr;
        DWORD descrLength;
        std::uint8_t expectedAddress;
        std::string expectedDescr;
    } cases[] = {
        {"an Ethernet address", 6, "eth0", 4, 6, "eth0"},
        {"an address length above the field reads the field", 20, "x", 1, 8, "x"},
        {"a negative address length reads none", 0xFFFFFFFF, "x", 1, 0, "x"},
        {"a description length counting its NUL keeps it", 0, std::string("ppp0\0", 5), 5, 0,
         std::string("ppp0\0", 5)},
        {"a description in the ANSI code page", 0, kWireless1251, DWORD(kWireless1251.size()), 0,
         "Беспроводное соединение"},
        {"a description length past the field reads the field", 0, std::string(256, 'a'), 1000, 0,
         std::string(256, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawTable raw(1);
        raw.Row(0).dwPhysAddrLen = c.addressLength;
        for (BYTE k = 0; k < MAXLEN_PHYSADDR; ++k) {
            raw.Row(0).bPhysAddr[k] = BYTE(0xA0 + k);
        }
        raw.Describe(0, c.descr, c.descrLength);
        const kv::InterfaceTable table = Parsed(raw);
        ASSERT_EQ(table.rows.size(), 1u);
        EXPECT_EQ(table.rows[0].addressLength, c.expectedAddress);
        EXPECT_EQ(table.rows[0].address[7], 0xA7);
        EXPECT_EQ(table.rows[0].description, c.expectedDescr);
    }
}

TEST(ParseIfTable, ACountTheBytesCannotHoldIsNoTable) {
    const struct {
        const char* name;
        std::size_t size;
        DWORD declared;
        bool ok;
    } cases[] = {
        {"no rows", offsetof(MIB_IFTABLE, table), 0, true},
        {"too short for a count", 3, 0, false},
        {"more rows declared than fit", offsetof(MIB_IFTABLE, table) + 2 * sizeof(MIB_IFROW), 3,
         false},
        {"a huge count", offsetof(MIB_IFTABLE, table) + sizeof(MIB_IFROW), 0xFFFFFFFF, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes(std::max<std::size_t>(c.size, 4));
        std::memcpy(bytes.data(), &c.declared, sizeof c.declared);
        kv::InterfaceTable table;
        EXPECT_EQ(kv::win32::ParseIfTable(bytes.data(), c.size, 1251, table), c.ok);
        if (c.ok) {
            EXPECT_TRUE(table.rows.empty());
        }
    }
}

// What GetIfTable is made to answer.
struct ScriptedIfTable {
    DWORD query = ERROR_INSUFFICIENT_BUFFER;
    std::optional<ULONG> querySize;  // default: the table's size
    DWORD fill = NO_ERROR;
    RawTable raw{2};
};
ScriptedIfTable ifScript;

DWORD WINAPI ScriptedGetIfTable(PMIB_IFTABLE table, PULONG size, BOOL) {
    if (table == nullptr) {
        *size = ifScript.querySize.value_or(ULONG(ifScript.raw.bytes.size()));
        return ifScript.query;
    }
    if (ifScript.fill != NO_ERROR) {
        return ifScript.fill;
    }
    std::memcpy(table, ifScript.raw.bytes.data(),
                std::min<std::size_t>(*size, ifScript.raw.bytes.size()));
    *size = ULONG(ifScript.raw.bytes.size());
    return NO_ERROR;
}

TEST(ScriptedIfTable, EachWayGetIfTableCanFailIsToldApart) {
    const struct {
        const char* name;
        void (*script)(ScriptedIfTable&);
        kv::TableRead expected;
    } cases[] = {
        {"two rows", [](ScriptedIfTable&) {}, kv::TableRead::kRead},
        {"the system has no such table", [](ScriptedIfTable& s) { s.query = ERROR_NOT_SUPPORTED; },
         kv::TableRead::kNotSupported},
        {"the filling call fails", [](ScriptedIfTable& s) { s.fill = ERROR_GEN_FAILURE; },
         kv::TableRead::kFailed},
        {"the table grew between the two calls",
         [](ScriptedIfTable& s) { s.fill = ERROR_INSUFFICIENT_BUFFER; }, kv::TableRead::kFailed},
        {"the size query reports no size", [](ScriptedIfTable& s) { s.querySize = 0; },
         kv::TableRead::kFailed},
        {"the size query reports an absurd size", [](ScriptedIfTable& s) { s.querySize = ~0UL; },
         kv::TableRead::kFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ifScript = ScriptedIfTable{};
        ifScript.raw.Row(1).dwIndex = 7;
        c.script(ifScript);
        kv::win32::Core core(kv::win32::SystemRas(), kv::win32::SystemTitle(),
                             {&ScriptedGetIfTable});
        kv::InterfaceTable table;
        ASSERT_EQ(core.ReadInterfaceTable(table), c.expected);
        if (c.expected == kv::TableRead::kRead) {
            ASSERT_EQ(table.rows.size(), 2u);
            EXPECT_EQ(table.rows[1].index, 7u);
        }
    }
}

// Wine's descriptions are the interfaces' ASCII names: they arrive as they are, row for row.
TEST(SystemIfTable, ReadsTheSystemsRowsAsTheyAre) {
    ULONG size = 0;
    ASSERT_EQ(::GetIfTable(nullptr, &size, FALSE), DWORD(ERROR_INSUFFICIENT_BUFFER));
    std::vector<std::uint8_t> bytes(size * 2);
    size = ULONG(bytes.size());
    ASSERT_EQ(::GetIfTable(reinterpret_cast<PMIB_IFTABLE>(bytes.data()), &size, FALSE), 0u);
    const auto* raw = reinterpret_cast<const MIB_IFTABLE*>(bytes.data());

    kv::win32::Core core;
    kv::InterfaceTable table;
    ASSERT_EQ(core.ReadInterfaceTable(table), kv::TableRead::kRead);
    EXPECT_EQ(table.counterBits, 32);
    ASSERT_GE(table.rows.size(), 1u);
    ASSERT_EQ(table.rows.size(), raw->dwNumEntries);
    for (DWORD i = 0; i < raw->dwNumEntries; ++i) {
        SCOPED_TRACE(i);
        const MIB_IFROW& from = raw->table[i];
        EXPECT_EQ(table.rows[i].index, from.dwIndex);
        EXPECT_EQ(table.rows[i].description,
                  std::string(reinterpret_cast<const char*>(from.bDescr), from.dwDescrLen));
        EXPECT_LE(table.rows[i].addressLength, 8u);
    }

    // The program's reader takes the same rows.
    kv::TrafMeter meter(core);
    meter.GetIPStats();
    EXPECT_EQ(meter.ControllerCount(), std::int32_t(table.rows.size()));
}

TEST(DescriptionText, ConvertsTheAnsiCodePageAndCutsBetweenLetters) {
    const std::string x255 = std::string(255, 'x');
    const struct {
        const char* name;
        std::string field;
        DWORD length;
        std::string expected;
    } cases[] = {
        {"cyrillic", kWireless1251, DWORD(kWireless1251.size()), "Беспроводное соединение"},
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
        std::vector<BYTE> field(MAXLEN_IFDESCR, 0);
        std::memcpy(field.data(), c.field.data(), c.field.size());
        EXPECT_EQ(kv::win32::DescriptionText(field.data(), c.length, 1251), c.expected);
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
