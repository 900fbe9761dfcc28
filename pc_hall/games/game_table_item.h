// What the hall window asks of a game in the hall's table.
#pragma once

class GameTableItem {
 public:
  virtual ~GameTableItem() = default;
  // Fires "GameStatusChanged" with the game's current status.
  virtual void FireStatusChanged() = 0;
};
