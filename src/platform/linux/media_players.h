#pragma once

#include <QDBusConnection>
#include <cstdint>
#include <memory>
#include <string>

namespace kv {

class MediaPlayersPrivate;

// The desktop's media players (MPRIS on the session bus), seen the way the program once saw its
// player's window: a handle and a title "N. Artist - Title - Winamp [Paused]". Answers come from a
// cache kept current by D-Bus signals, so a lookup never waits on the bus.
class MediaPlayers {
  public:
    MediaPlayers();
    // Watches the players on `bus` instead of the session bus; a disconnected bus has none.
    explicit MediaPlayers(const QDBusConnection& bus);
    ~MediaPlayers();

    MediaPlayers(const MediaPlayers&) = delete;
    MediaPlayers& operator=(const MediaPlayers&) = delete;

    // The playing player, else a paused one, else any; 0 when none.
    std::uintptr_t Current();
    // The title of the player behind a handle from Current(); empty when it is gone.
    std::string Title(std::uintptr_t player);

  private:
    std::unique_ptr<MediaPlayersPrivate> d_;
};

}  // namespace kv
