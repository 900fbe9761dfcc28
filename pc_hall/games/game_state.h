// States of a game, the hall ids with behaviour attached, the hall window's
// messages that carry a game id, and the check that a text is a game id.
#pragma once

#include <windows.h>

#include <string>

namespace ostrelle {

// Values as config.ini key "state" and the status objects carry them.
enum GameState : int {
  kNotStarted = 0,  // before Init
  kNoInfo = 1,
  kInfoReady = 2,
  kDownloading = 3,
  kDownloaded = 4,
  kPrepared = 5,
  kInstalled = 6,
  kRunning = 7,  // target only: reach Installed, then start the game
};

inline constexpr int kPcHallId = 1000001;
inline constexpr int kEmulatorHallId = 1000006;

// Posted to the hall window: report the game's status on the hall's thread.
inline constexpr UINT kStatusMessage = WM_USER + 8;
// Posted to the hall window: carry on the game's transition on the hall's
// thread (steps that create the setup object or start a process).
inline constexpr UINT kHallStepMessage = WM_USER + 9;

// A game id is 1 to 10 decimal digits whose value fits a signed 32-bit
// integer; leading zeros are allowed and kept.
bool IsGameId(const std::wstring& text);

// The game id as the hall window's messages carry it: wParam = its length,
// lParam = its value.
void PackGameId(const std::wstring& gameId, WPARAM* wParam, LPARAM* lParam);

}  // namespace ostrelle
