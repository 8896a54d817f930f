// A player from the library, owned: released when it goes, as the public
// interface asks (a player is never deleted).
#pragma once

#include <memory>

#include "tiko/tiko.h"

namespace tiko::host {

struct PlayerRelease {
  void operator()(CTikoPlayer* player) const { player->Release(); }
};
using PlayerPtr = std::unique_ptr<CTikoPlayer, PlayerRelease>;

}  // namespace tiko::host
