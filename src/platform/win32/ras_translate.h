#pragma once

// Before the other SDK headers, which use its types.
#include <windows.h>

#include <ras.h>
#include <raserror.h>

#include <cstddef>
#include <cstdint>

namespace kv::win32 {

// ras.h spells RASCONNA as a macro for "struct tagRASCONNA", which cannot be used as a type name.
using NativeConnection = RASCONNA;

// The program hands RasEnumConnectionsA the 412-byte entries of the 32-bit ANSI RASCONN
// (ras_layout.h). rasapi32 only accepts its own RASCONNA sizes, which on x64 differ (the handle is
// a pointer, later SDKs append fields), so the backend enumerates into native entries and copies
// the fields the program reads into its layout. A native handle does not fit the 32-bit hrasconn
// field: each entry gets a token instead, numbered from firstToken.
void WriteEntries(const NativeConnection* native, std::size_t count, std::uint8_t* buffer,
                  std::uint32_t firstToken);

// The caller's byte count for what rasapi32 reported as a native byte count.
std::uint32_t CallerBytes(DWORD nativeBytes);

}  // namespace kv::win32
