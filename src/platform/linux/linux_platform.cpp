#include "platform/linux/linux_platform.h"

namespace kv {

LinuxPlatform::LinuxPlatform() : players_(std::make_unique<MediaPlayers>()) {}

TableRead LinuxPlatform::ReadInterfaceTable(InterfaceTable& table) {
    return ifTable_.Read(table);
}

std::vector<DialUpLink> LinuxPlatform::ListDialUpLinks(LinkResult& result) {
    std::vector<DialUpLinks::Link> found;
    result = {dialUp_.List(found)};
    if (result.failure == LinkFailure::kNone && found.size() > kMaxDialUpLinks) {
        result = {LinkFailure::kTooMany};
    }
    if (result.failure != LinkFailure::kNone) {
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

LinkResult LinuxPlatform::HangUp(const DialUpLink& link) {
    const auto it = links_.find(link.token);
    if (it == links_.end()) {
        return {LinkFailure::kGone};
    }
    return {dialUp_.HangUp(it->second)};
}

std::optional<std::string> LinuxPlatform::PlayerTitle() {
    const std::uintptr_t player = players_->Current();
    if (player == 0) {
        return std::nullopt;
    }
    return players_->Title(player);
}

}  // namespace kv
