#include "platform/linux/boot_id.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <string_view>

#include "platform/boot_id.h"

namespace kv {

namespace {

// A boot_id is a UUID; a file this long was not written by the kernel.
constexpr std::size_t kMaxBootIdFileSize = 4096;
constexpr std::string_view kSpaces = " \t\n\r\v\f";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kSpaces);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpaces) - first + 1);
}

std::string KernelBootId(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text(kMaxBootIdFileSize, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    const auto size = std::size_t(in.gcount());
    if (size == text.size()) {
        return {};
    }
    const std::string_view id = Trimmed(std::string_view(text).substr(0, size));
    return IsPlainBootId(id) ? std::string(id) : std::string();
}

// The "btime" line: the clock at boot in seconds, as the kernel reckons it now.
std::string BootTime(const std::filesystem::path& file) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        constexpr std::string_view kKey = "btime";
        const std::string_view text = line;
        if (!text.starts_with(kKey) || text.size() == kKey.size() ||
            kSpaces.find(text[kKey.size()]) == std::string_view::npos) {
            continue;
        }
        const std::string_view value = Trimmed(text.substr(kKey.size()));
        std::uint64_t seconds = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (value.empty() || error != std::errc() || end != value.data() + value.size()) {
            return {};
        }
        return "btime-" + std::to_string(seconds);
    }
    return {};
}

}  // namespace

// The kernel's random boot_id names the boot; when it cannot be read, the boot time still tells
// a restart apart, though setting the clock moves it.
std::string BootIdUnder(const std::filesystem::path& root) {
    std::string id = KernelBootId(root / "proc/sys/kernel/random/boot_id");
    return id.empty() ? BootTime(root / "proc/stat") : id;
}

std::string BootId() {
    return BootIdUnder("/");
}

}  // namespace kv
