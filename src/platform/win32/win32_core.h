#pragma once

// Before the other SDK headers, which use its types.
#include <windows.h>

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

// The Windows backend. Free of Qt: Qt itself does the window operations.
class Core : public Platform {
  public:
    explicit Core(RasApi ras = SystemRas(), TitleApi title = SystemTitle());

    std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) override;
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
    std::vector<NativeConnection> native_;
    std::map<std::uint32_t, HRASCONN> connections_;
    std::uint32_t nextToken_ = 1;
};

// UTF-8, the encoding of every string in the program, to and from Windows' UTF-16.
std::wstring Widen(const char* utf8);
std::string Narrow(const wchar_t* text, int length);

// GetIfTable writes bDescr in the ANSI code page. Rewrites one row's description of `length`
// bytes in `codePage` as UTF-8 in place, cut where a letter would not fit the field, and returns
// the new length.
std::uint32_t DescriptionToUtf8(std::uint8_t* descr, std::uint32_t length, UINT codePage);
// The same for every row of a table GetIfTable filled into `size` bytes, lengths included.
void DescriptionsToUtf8(std::uint8_t* table, std::uint32_t size, UINT codePage);

}  // namespace kv::win32
