#include "platform/win32/ras_translate.h"

#include <cstring>

#include "platform/win32/ras_layout.h"

namespace kv::win32 {

namespace {

// Names rasapi32 fills up to the last byte would otherwise run into the next field.
void CopyName(std::uint8_t* to, std::size_t fieldSize, const char* from, std::size_t fromSize) {
    const std::size_t n = ::strnlen(from, fromSize < fieldSize ? fromSize : fieldSize - 1);
    std::memset(to, 0, fieldSize);
    std::memcpy(to, from, n < fieldSize ? n : fieldSize - 1);
}

}  // namespace

void WriteEntries(const NativeConnection* native, std::size_t count, std::uint8_t* buffer,
                  std::uint32_t firstToken) {
    for (std::size_t i = 0; i < count; ++i) {
        const NativeConnection& from = native[i];
        std::uint8_t* entry = buffer + i * ras::kEntrySize;
        std::memset(entry, 0, ras::kEntrySize);
        ras::WriteU32(entry + ras::kSizeOffset, ras::kEntrySize);
        ras::WriteU32(entry + ras::kHandleOffset, firstToken + std::uint32_t(i));
        CopyName(entry + ras::kEntryNameOffset, ras::kEntryNameSize, from.szEntryName,
                 sizeof from.szEntryName);
        CopyName(entry + ras::kDeviceTypeOffset, ras::kDeviceTypeSize, from.szDeviceType,
                 sizeof from.szDeviceType);
        CopyName(entry + ras::kDeviceNameOffset, ras::kDeviceNameSize, from.szDeviceName,
                 sizeof from.szDeviceName);
    }
}

std::uint32_t CallerBytes(DWORD nativeBytes) {
    const std::size_t entries =
        (std::size_t(nativeBytes) + sizeof(NativeConnection) - 1) / sizeof(NativeConnection);
    return std::uint32_t(entries * ras::kEntrySize);
}

}  // namespace kv::win32
