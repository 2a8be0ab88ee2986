#pragma once

// Before the other SDK headers, which use its types.
#include <windows.h>

#include <iphlpapi.h>
#include <ras.h>

#include "platform/win32/ras_translate.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kv::win32 {

// rasapi32 entry points, replaceable so that tests can play connections Wine cannot make.
struct RasApi {
    DWORD(WINAPI* enumerate)(LPRASCONNA, LPDWORD, LPDWORD);
    DWORD(WINAPI* hangUp)(HRASCONN);
};

RasApi SystemRas();

// The player's window class.
inline constexpr char kPlayerWindowClass[] = "Winamp v1.X";

// user32's window-title calls, replaceable so that tests can change a title between them.
struct TitleApi {
    HWND(WINAPI* find)(LPCSTR, LPCSTR);
    int(WINAPI* length)(HWND);
    int(WINAPI* text)(HWND, LPWSTR, int);
};

TitleApi SystemTitle();

// iphlpapi's table call, replaceable so that tests can play answers a real system never gives.
struct IfTableApi {
    DWORD(WINAPI* get)(PMIB_IFTABLE, PULONG, BOOL);
};

IfTableApi SystemIfTable();

// The Windows backend. Free of Qt: Qt itself does the window operations.
class Core : public Platform {
  public:
    explicit Core(RasApi ras = SystemRas(), TitleApi title = SystemTitle(),
                  IfTableApi ifTable = SystemIfTable());

    TableRead ReadInterfaceTable(InterfaceTable& table) override;
    std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) override;
    LinkResult HangUp(const DialUpLink& link) override;
    std::optional<std::string> PlayerTitle() override;

    // The listing in the program's 32-bit RASCONN layout (ras_layout.h), the first entry's dwSize
    // set; each entry's handle field holds a token for RasHangUpA.
    std::uint32_t RasEnumConnectionsA(std::uint8_t* connections, std::uint32_t* size,
                                      std::uint32_t* count);
    std::uint32_t RasHangUpA(std::uint32_t connection);

  private:
    RasApi ras_;
    TitleApi title_;
    IfTableApi ifTable_;
    std::vector<std::uint8_t> ifTableBytes_;
    std::vector<NativeConnection> native_;
    std::map<std::uint32_t, HRASCONN> connections_;
    std::uint32_t nextToken_ = 1;
};

// UTF-8, the encoding of every string in the program, to and from Windows' UTF-16.
std::wstring Widen(const char* utf8);
std::string Narrow(const wchar_t* text, int length);

// GetIfTable writes bDescr in the ANSI code page: `length` bytes of it as UTF-8, cut where a
// letter would not fit kMaxDescriptionBytes. Bytes that are no text in that code page are kept.
std::string DescriptionText(const BYTE* descr, DWORD length, UINT codePage);
// The rows of a MIB_IFTABLE GetIfTable filled into `size` bytes; false when the count it declares
// does not fit them.
bool ParseIfTable(const std::uint8_t* bytes, std::size_t size, UINT codePage,
                  InterfaceTable& table);

}  // namespace kv::win32
