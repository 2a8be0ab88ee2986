#pragma once

// Before the other SDK headers, which use its types.
#include <windows.h>

#include <ras.h>

#include "platform/win32/ras_translate.h"

#include <cstdint>
#include <map>
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

// The Windows calls that need no window of the program's own: the interface table, dial-up
// connections, the player's window title and opening an address. Free of Qt so that it builds and
// runs without it.
class Core {
  public:
    explicit Core(RasApi ras = SystemRas());

    std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order);
    std::uint32_t RasEnumConnectionsA(std::uint8_t* connections, std::uint32_t* size,
                                      std::uint32_t* count);
    std::uint32_t RasHangUpA(std::uint32_t connection);
    Platform::PlayerHandle FindWindowA(const char* className, const char* windowName);
    int GetWindowTextLengthA(Platform::PlayerHandle window);
    int GetWindowTextA(Platform::PlayerHandle window, char* buffer, int size);
    void ShellExecuteA(const char* operation, const char* file, const char* parameters,
                       const char* directory, int show);

  private:
    RasApi ras_;
    std::vector<NativeConnection> native_;
    std::map<std::uint32_t, HRASCONN> connections_;
    std::uint32_t nextToken_ = 1;
    std::string title_;
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
