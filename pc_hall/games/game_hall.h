// What the game items and the information cache need from the hall that owns
// them. Implemented by the PC hall object; every operation may be called on
// the hall's thread or on a download engine thread unless noted.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

struct FileDownloadStatus;

namespace ostrelle {

class GameHall {
 public:
  // "<application data>\Zorvanix\GameManager"; fixed for the hall's life.
  virtual std::wstring ProductFolder() const = 0;
  // The current store path, without a trailing backslash unless the host set
  // one; it may change at any time through "SETSTOREPATH".
  virtual std::wstring StorePath() const = 0;

  // Posts kStatusMessage for the game: "GameStatusChanged" then follows on
  // the hall's thread.
  virtual void PostStatusChanged(const std::wstring& gameId) = 0;
  // Posts kHallStepMessage for the game: the hall's thread then calls the
  // item's ContinueOnHallThread.
  virtual void PostHallStep(const std::wstring& gameId) = 0;
  virtual bool OnHallThread() const = 0;

  // Sends Notify(event, param1, param2) to the connected sinks, synchronously
  // on the calling thread.
  virtual HRESULT FireNotify(const wchar_t* event, const VARIANT& param1, const VARIANT& param2) = 0;

  // A game's information has become available (report: the finished
  // download of its file, or null when an item found it itself).
  virtual void OnGameConfigReady(const std::wstring& gameId, const FileDownloadStatus* report) = 0;

 protected:
  ~GameHall() = default;
};

}  // namespace ostrelle
