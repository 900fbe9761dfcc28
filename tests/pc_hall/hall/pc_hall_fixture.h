// The PC hall driven the way the host drives it: Ostrelle.dll loaded by path
// from the test's program folder, commands through "call", events through a
// connected sink, game information and parts from a loopback content server.
// Shared by the hall's test programs; everything runs on the test thread,
// which is the hall's thread and pumps messages while it waits.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "catalogue.h"
#include "common/settings.h"
#include "hall_host.h"
#include "http_server.h"
#include "test_support.h"

namespace pchalltest {

constexpr DWORD kWaitMs = 20000;
// Written into a result before a call to prove the call left it alone.
constexpr LONG kSentinel = 0x5A5A;

struct SeenEvent {
  zv::HostEvent event;
  DWORD threadId;
};

// Parameters for Call, which frees them.
VARIANT Text(const std::wstring& text);
VARIANT Int(LONG number);
VARIANT Bool(bool yes);
VARIANT Missing();

std::wstring Wide(const std::string& text);

class PcHallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // A game id for this test; its folder in the product folder starts empty.
  std::wstring UseId(const std::wstring& id);

  static std::wstring GameFolder(const std::wstring& id);
  std::wstring DownloadFile(const std::wstring& id, const std::wstring& name) const;

  zv::HallHost& NewHall();
  void CloseHalls();

  // Calls "call" as the host does; frees param1 and param2.
  HRESULT Call(zv::HallHost& host, const std::wstring& method, VARIANT param1, VARIANT param2, VARIANT* result);
  // The VT_I2 answer of a yes/no command, or kSentinel when result was left alone.
  LONG Ask(zv::HallHost& host, const std::wstring& method, const std::wstring& id);
  LONG AddGame(zv::HallHost& host, const std::wstring& id, int hallId, VARIANT target);

  // Waits for a "GameStatusChanged" of the game whose status has the fields.
  bool WaitStatus(zv::HallHost& host, const std::wstring& id,
                  const std::vector<std::pair<std::wstring, std::wstring>>& fields, DWORD timeoutMs = kWaitMs);
  bool WaitEvent(zv::HallHost& host, const std::wstring& name, const std::wstring& key, const std::wstring& value,
                 zv::HostEvent* found = nullptr, DWORD timeoutMs = kWaitMs);
  // Passes waited on; when a wait timed out, also reports every event seen.
  bool ShowSeenUnless(bool waited);
  // Every event so far called name whose gameKey field is id.
  std::vector<SeenEvent> Seen(const std::wstring& name, const std::wstring& gameKey, const std::wstring& id);

  // The current "state" of the game's status object, or -1.
  int StateOf(zv::HallHost& host, const std::wstring& id);

  zv::IniFile Config(const std::wstring& id) const;

  // Puts the game's information file and config.ini in place as an earlier
  // run of the hall would have left them.
  void LeaveEarlierRun(const GameSpec& game, int state, int progress, bool withInfo);

  zvtest::HttpServer server_;
  zvtest::TempFolder store_{L"pchall"};
  std::wstring storePath_;
  std::vector<std::wstring> ids_;
  std::vector<std::unique_ptr<zv::HallHost>> halls_;
  std::mutex seenLock_;
  std::vector<SeenEvent> seen_;
};

}  // namespace pchalltest
