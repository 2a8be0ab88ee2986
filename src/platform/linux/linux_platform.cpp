#include "platform/linux/linux_platform.h"

#include "platform/win_errors.h"

namespace kv {

LinuxPlatform::LinuxPlatform(std::string runDirectory)
    : dialUp_(std::move(runDirectory)), players_(std::make_unique<MediaPlayers>()) {}

TableRead LinuxPlatform::ReadInterfaceTable(InterfaceTable& table) {
    return ifTable_.Read(table);
}

std::vector<DialUpLink> LinuxPlatform::ListDialUpLinks(std::uint32_t& error) {
    std::vector<DialUpLinks::Link> found;
    error = dialUp_.List(found);
    if (error == win::kNoError && found.size() > kMaxDialUpLinks) {
        error = win::kErrorBufferTooSmall;
    }
    if (error != win::kNoError) {
        return {};
    }
    // Tokens of an earlier listing may name links that have gone since.
    links_.clear();
    std::vector<DialUpLink> links;
    for (DialUpLinks::Link& link : found) {
        const std::uint32_t token = nextToken_++;
        links.push_back({token, link.name});
        links_[token] = std::move(link);
    }
    return links;
}

std::uint32_t LinuxPlatform::HangUp(const DialUpLink& link) {
    const auto it = links_.find(link.token);
    if (it == links_.end()) {
        return win::kErrorInvalidHandle;
    }
    return dialUp_.HangUp(it->second);
}

std::optional<std::string> LinuxPlatform::PlayerTitle() {
    const std::uintptr_t player = players_->Current();
    if (player == 0) {
        return std::nullopt;
    }
    return players_->Title(player);
}

}  // namespace kv
