// Whole PC games through the hall: the game's first part is the silent setup
// program (fake_setup.exe) served by the loopback server; it installs a copy
// of the launch stand-in (emu_standin.exe) as the game's start program and a
// registry script. Real processes, the real registry and real folders.
#include "pc_hall_fixture.h"

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/locations.h"
#include "common/text.h"

namespace {

using pchalltest::Bool;
using pchalltest::GameSpec;
using pchalltest::Int;
using pchalltest::kSentinel;
using pchalltest::Missing;
using pchalltest::PcHallTest;
using pchalltest::SeenEvent;
using pchalltest::Text;
using pchalltest::Wide;

constexpr DWORD kSetupWaitMs = 60000;
constexpr int kPcHall = 1000001;
constexpr wchar_t kStartFile[] = L"quest.exe";

// The setup program's orders, read from "<part>.cfg" beside the downloaded
// part (see fake_setup.cpp).
struct SetupOrders {
  int files = 3;
  int size = 8192;
  int pauseMs = 400;
  int holdMs = 0;
  int exitCode = 0;
  bool installsProgram = true;
};

// Processes whose program file is called exeName, ignoring case.
size_t CountProcesses(const std::wstring& exeName) {
  zv::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  size_t count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (zv::EqualsIgnoreCase(entry.szExeFile, exeName)) ++count;
  }
  return count;
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RegKeyExists(const std::wstring& key) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  ::RegCloseKey(opened);
  return true;
}

std::wstring ReadRegText(const std::wstring& key, const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD bytes = sizeof(value);
  const LONG status = ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name,
                                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value, &bytes);
  return status == ERROR_SUCCESS ? value : L"<missing>";
}

size_t CountLines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class PcGameFlowTest : public PcHallTest {
 protected:
  // A store path with a blank, as under "Program Files".
  void SetUp() override {
    PcHallTest::SetUp();
    storePath_ = store_ / L"game store";
    zv::Settings().WriteString(L"Setting", L"StorePath", storePath_);
  }

  void TearDown() override {
    // Let every setup program and game still holding go before the halls
    // and the store are removed.
    for (const std::wstring& id : ids_) zvtest::WriteFileBytes(SetupProgram(id) + L".stop", "");
    for (const std::wstring& hold : holds_) ::DeleteFileW(hold.c_str());
    zvtest::WaitFor([] { return CountProcesses(kStartFile) == 0; }, 5000);
    PcHallTest::TearDown();
    for (const std::wstring& key : regKeys_) ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  }

  static GameSpec Game(const std::wstring& id) {
    GameSpec game;
    game.id = zv::ToUtf8(id);
    game.name = "Quest" + game.id;
    game.startupFile = zv::ToUtf8(kStartFile);
    return game;
  }

  // Serves a game whose only part is the setup program, with its orders.
  GameSpec PublishSetupGame(const std::wstring& id, const SetupOrders& orders) {
    GameSpec game = Game(id);
    game.clients = {{zvtest::ReadFileBytes(zvtest::ProgramFolder() + L"\\fake_setup.exe")}};
    EXPECT_FALSE(game.clients[0].body.empty());
    pchalltest::Publish(server_, game);
    WriteOrders(game, orders);
    return game;
  }

  void WriteOrders(const GameSpec& game, const SetupOrders& orders) {
    const std::wstring id = Wide(game.id);
    std::string text = "[setup]\r\nfolder=" + game.name + "\\" + game.name + "\r\nfiles=" +
                       std::to_string(orders.files) + "\r\nsize=" + std::to_string(orders.size) +
                       "\r\npauseMs=" + std::to_string(orders.pauseMs) + "\r\nholdMs=" +
                       std::to_string(orders.holdMs) + "\r\nexit=" + std::to_string(orders.exitCode) +
                       "\r\nregKey=" + zv::ToUtf8(RegKey(id)) + "\r\n";
    if (orders.installsProgram) {
      text += "program=" + zv::ToUtf8(kStartFile) + "\r\nprogramFrom=" +
              zv::ToUtf8(zvtest::ProgramFolder() + L"\\emu_standin.exe") + "\r\n";
    }
    ASSERT_TRUE(zvtest::WriteFileBytes(SetupProgram(id) + L".cfg", text));
  }

  std::wstring SetupProgram(const std::wstring& id) const { return DownloadFile(id, id + L"_0.exe"); }

  std::wstring RegKey(const std::wstring& id) {
    const std::wstring key = zv::Format(L"Software\\ZorvanixTest\\Flow%lu_%ls", ::GetCurrentProcessId(), id.c_str());
    if (std::find(regKeys_.begin(), regKeys_.end(), key) == regKeys_.end()) regKeys_.push_back(key);
    return key;
  }

  std::wstring GamesFolder() const { return storePath_ + L"\\Games"; }
  // "<store>\Games\<name>\<name>": where the setup installs the game.
  std::wstring InstalledFolder(const GameSpec& game) const {
    return GamesFolder() + L"\\" + Wide(game.name) + L"\\" + Wide(game.name);
  }
  std::wstring StartProgram(const GameSpec& game) const { return InstalledFolder(game) + L"\\" + kStartFile; }

  // Leaves an installed game on disk as an earlier run of the hall and its
  // setup would have: information, config.ini, the part and the start
  // program (the launch stand-in, told to keep running).
  void LeaveInstalledGame(const GameSpec& game) {
    const std::wstring id = Wide(game.id);
    pchalltest::Publish(server_, game);
    LeaveEarlierRun(game, 6, 100, true);
    ASSERT_TRUE(zvtest::WriteFileBytes(SetupProgram(id), game.clients[0].body));
    zv::CreateFolderTree(InstalledFolder(game));
    ASSERT_TRUE(::CopyFileW((zvtest::ProgramFolder() + L"\\emu_standin.exe").c_str(), StartProgram(game).c_str(),
                            FALSE));
    holds_.push_back(StartProgram(game) + L".hold");
    ASSERT_TRUE(zvtest::WriteFileBytes(holds_.back(), ""));
  }

  // The results of the game's "SetupEvent"s so far, in order.
  std::vector<std::wstring> SetupResults(const std::wstring& id) {
    std::vector<std::wstring> results;
    for (const SeenEvent& seen : Seen(L"SetupEvent", L"p1", id)) results.push_back(seen.event.fields.at(L"p2"));
    return results;
  }

  std::vector<std::wstring> holds_;
  std::vector<std::wstring> regKeys_;
};

TEST_F(PcGameFlowTest, InstallsThroughItsSetupAndUninstallsBackToDownloaded) {
  const std::wstring id = UseId(L"8001");
  SetupOrders orders;
  orders.holdMs = 600;  // the setup runs past its first progress tick
  const GameSpec game = PublishSetupGame(id, orders);
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, kPcHall, Int(6)), -1);

  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"6"}, {L"setupstate", L"0"}}, kSetupWaitMs));
  EXPECT_EQ(StateOf(host, id), 6);
  EXPECT_EQ(SetupResults(id), std::vector<std::wstring>{L"0"});
  const auto progress = Seen(L"SetupProgress", L"p1", id);
  EXPECT_FALSE(progress.empty()) << "the setup ran for more than a second";
  for (const SeenEvent& seen : progress) {
    const int percent = std::stoi(seen.event.fields.at(L"p2"));
    EXPECT_TRUE(percent >= 0 && percent <= 99) << percent;
    EXPECT_EQ(seen.threadId, ::GetCurrentThreadId());
  }
  for (const SeenEvent& seen : Seen(L"SetupEvent", L"p1", id)) EXPECT_EQ(seen.threadId, ::GetCurrentThreadId());
  EXPECT_EQ(Config(id).ReadString(L"config", L"startup"), StartProgram(game));
  EXPECT_TRUE(zvtest::FileExists(StartProgram(game)));
  // The game's registry script was imported with "$HOME" as its folder.
  EXPECT_EQ(ReadRegText(RegKey(id), L"Path"), InstalledFolder(game) + L"\\game.exe");
  EXPECT_EQ(ReadRegText(RegKey(id), L"Expand"), InstalledFolder(game) + L"\\b");

  EXPECT_EQ(Ask(host, L"UNINSTALLGAME", id), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"4"}}));
  EXPECT_EQ(StateOf(host, id), 4);
  EXPECT_EQ(SetupResults(id), (std::vector<std::wstring>{L"0", L"2"}));
  EXPECT_FALSE(RegKeyExists(RegKey(id))) << "the uninstall script removes the key";
  for (const wchar_t* installed : {kStartFile, L"data0.bin", L"data2.bin", L"GameReg"}) {
    EXPECT_EQ(::GetFileAttributesW((InstalledFolder(game) + L"\\" + installed).c_str()), INVALID_FILE_ATTRIBUTES)
        << zv::ToUtf8(installed);
  }
  EXPECT_TRUE(FolderExists(InstalledFolder(game)));
  EXPECT_EQ(zvtest::ReadFileBytes(SetupProgram(id)), game.clients[0].body) << "the part is kept";
  EXPECT_EQ(Config(id).ReadInt(L"config", L"state", 0), 4);
}

// A game whose parts were all fetched before a restart picks up its setup on
// its own, and its progress is measured against the parts on disk.
TEST_F(PcGameFlowTest, AfterARestartADownloadedGameSetsItselfUpWithProgress) {
  const std::wstring id = UseId(L"8010");
  SetupOrders orders;
  orders.size = 65536;
  orders.holdMs = 1500;
  const GameSpec game = PublishSetupGame(id, orders);
  LeaveEarlierRun(game, 4, 100, true);
  ASSERT_TRUE(zvtest::WriteFileBytes(SetupProgram(id), game.clients[0].body));
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, kPcHall, Missing()), -1);

  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"6"}, {L"setupstate", L"0"}}, kSetupWaitMs));
  const auto progress = Seen(L"SetupProgress", L"p1", id);
  EXPECT_TRUE(std::any_of(progress.begin(), progress.end(),
                          [](const SeenEvent& seen) { return std::stoi(seen.event.fields.at(L"p2")) > 0; }));
  EXPECT_EQ(server_.RequestCount(pchalltest::PartPath(game, false, 0)), 0u) << "nothing fetched again";
}

TEST_F(PcGameFlowTest, StartGameStartsOneCopyAtATime) {
  const std::wstring id = UseId(L"8002");
  GameSpec game = Game(id);
  game.clients = {{"MZ"}};
  LeaveInstalledGame(game);
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, kPcHall, Missing()), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"6"}}));

  const std::wstring command = L"box.exe -gameid " + id;
  const std::wstring log = StartProgram(game) + L".log";
  EXPECT_EQ(Ask(host, L"STARTGAME", command), -1);
  ASSERT_TRUE(zvtest::WaitFor([&] { return CountLines(zvtest::ReadFileBytes(log)) >= 2; }, pchalltest::kWaitMs));
  // The game runs in its folder. (Wine quotes an unquoted program path that
  // has a blank in the command line the game sees; Windows passes it as is.)
  const std::string record = zvtest::ReadFileBytes(log);
  EXPECT_NE(record.find(zv::ToUtf8(StartProgram(game))), std::string::npos) << record;
  EXPECT_NE(record.find("\n" + zv::ToUtf8(InstalledFolder(game)) + "\n"), std::string::npos) << record;

  EXPECT_EQ(Ask(host, L"STARTGAME", command), -1) << "a running game still answers yes";
  zvtest::WaitFor([] { return false; }, 500);
  EXPECT_EQ(CountLines(zvtest::ReadFileBytes(log)), 2u);
  EXPECT_EQ(CountProcesses(kStartFile), 1u);

  ::DeleteFileW(holds_.back().c_str());
  ASSERT_TRUE(zvtest::WaitFor([] { return CountProcesses(kStartFile) == 0; }, pchalltest::kWaitMs));
  EXPECT_EQ(Ask(host, L"STARTGAME", command), -1);
  EXPECT_TRUE(zvtest::WaitFor([&] { return CountLines(zvtest::ReadFileBytes(log)) >= 4; }, pchalltest::kWaitMs));
}

// The setup's report arrives on the hall's thread after the download ended on
// an engine thread; the start that follows it happens there too.
TEST_F(PcGameFlowTest, StartGameOnAGameWithoutInformationInstallsAndThenStartsIt) {
  const std::wstring id = UseId(L"8005");
  SetupOrders orders;
  orders.files = 1;
  orders.pauseMs = 0;
  const GameSpec game = PublishSetupGame(id, orders);
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, kPcHall, Missing()), -1);
  EXPECT_EQ(Ask(host, L"STARTGAME", L"-gameid " + id), -1);

  const std::wstring log = StartProgram(game) + L".log";
  ASSERT_TRUE(zvtest::WaitFor([&] { return CountLines(zvtest::ReadFileBytes(log)) >= 2; }, kSetupWaitMs));
  EXPECT_EQ(SetupResults(id), std::vector<std::wstring>{L"0"});
  EXPECT_EQ(StateOf(host, id), 6);
  zvtest::WaitFor([] { return false; }, 300);
  EXPECT_EQ(CountLines(zvtest::ReadFileBytes(log)), 2u) << "started once";
}

TEST_F(PcGameFlowTest, CancelSetupStopsTheRunningSetupAndKeepsFoldersAndParts) {
  const std::wstring id = UseId(L"8003");
  SetupOrders orders;
  orders.files = 2;
  orders.pauseMs = 100;
  orders.holdMs = 60000;
  const GameSpec game = PublishSetupGame(id, orders);
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, kPcHall, Int(6)), -1);
  // The scripts are the last thing the setup writes before it holds.
  const std::wstring script = InstalledFolder(game) + L"\\GameReg\\game.reg.reg";
  ASSERT_TRUE(zvtest::WaitFor([&] { return zvtest::FileExists(script); }, kSetupWaitMs));
  EXPECT_EQ(CountProcesses(id + L"_0.exe"), 1u);

  EXPECT_EQ(Ask(host, L"CANCELSETUPGAME", id), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"4"}, {L"setupstate", L"0"}}));
  EXPECT_EQ(StateOf(host, id), 4);
  EXPECT_EQ(SetupResults(id), std::vector<std::wstring>{L"1"}) << "a cancelled setup reports a failed run";
  EXPECT_EQ(CountProcesses(id + L"_0.exe"), 0u);
  EXPECT_TRUE(FolderExists(InstalledFolder(game) + L"\\GameReg"));
  for (const wchar_t* written : {L"data0.bin", L"data1.bin", kStartFile, L"GameReg\\game.reg.reg"}) {
    EXPECT_FALSE(zvtest::FileExists(InstalledFolder(game) + L"\\" + written)) << zv::ToUtf8(written);
  }
  EXPECT_EQ(zvtest::ReadFileBytes(SetupProgram(id)), game.clients[0].body);
  EXPECT_FALSE(RegKeyExists(RegKey(id)));
}

TEST_F(PcGameFlowTest, AFailedSetupStaysPreparedUntilTheTargetIsRaisedAgain) {
  const std::wstring id = UseId(L"8004");
  SetupOrders failing;
  failing.files = 1;
  failing.pauseMs = 0;
  failing.exitCode = 5;
  failing.installsProgram = false;
  const GameSpec game = PublishSetupGame(id, failing);
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, kPcHall, Int(6)), -1);
  ASSERT_TRUE(WaitEvent(host, L"SetupEvent", L"p1", id, nullptr, kSetupWaitMs));
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"5"}, {L"setupstate", L"0"}}));
  EXPECT_EQ(SetupResults(id), std::vector<std::wstring>{L"1"});
  zvtest::WaitFor([] { return false; }, 300);
  EXPECT_EQ(StateOf(host, id), 5);
  EXPECT_EQ(Config(id).ReadInt(L"config", L"state", 0), 5);

  WriteOrders(game, SetupOrders{});
  EXPECT_EQ(Ask(host, L"SETUPGAME", id), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"6"}, {L"setupstate", L"0"}}, kSetupWaitMs));
  EXPECT_EQ(SetupResults(id), (std::vector<std::wstring>{L"1", L"0"}));
  EXPECT_TRUE(zvtest::FileExists(StartProgram(game)));
}

struct DeleteCase {
  const char* what;
  const wchar_t* id;
  VARTYPE type;
  LONG value;
  bool removesFiles;
};

class PcGameDeleteTest : public PcGameFlowTest, public ::testing::WithParamInterface<DeleteCase> {};

// An installed game is deleted beside another game's files, which always stay.
TEST_P(PcGameDeleteTest, RemovesTheGamesFilesOnlyWhenAsked) {
  const DeleteCase& c = GetParam();
  const std::wstring id = UseId(c.id);
  GameSpec game = Game(id);
  game.clients = {{"MZ"}};
  LeaveInstalledGame(game);
  ::DeleteFileW(holds_.back().c_str());
  const std::wstring otherId = UseId(L"8019");
  const std::vector<std::wstring> others = {DownloadFile(otherId, otherId + L"_0.exe"),
                                            GamesFolder() + L"\\Other\\Other\\other.exe",
                                            GameFolder(otherId) + L"\\config.ini"};
  for (const std::wstring& file : others) ASSERT_TRUE(zvtest::WriteFileBytes(file, "kept"));

  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, kPcHall, Missing()), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"6"}}));
  VARIANT param2;
  param2.vt = c.type;
  if (c.type == VT_BOOL) {
    param2.boolVal = static_cast<VARIANT_BOOL>(c.value);
  } else {
    param2.lVal = c.value;
  }
  zv::UniqueVariant result;
  result->vt = VT_I4;
  result->lVal = kSentinel;
  EXPECT_EQ(Call(host, L"DELETEGAME", Text(id), param2, result.get()), S_OK);
  EXPECT_EQ(result->lVal, kSentinel);
  EXPECT_EQ(StateOf(host, id), -1) << "the game left the hall";

  const std::vector<std::wstring> gameFolders = {storePath_ + L"\\Download\\" + id, GameFolder(id),
                                                 GamesFolder() + L"\\" + Wide(game.name)};
  for (const std::wstring& folder : gameFolders) {
    EXPECT_EQ(FolderExists(folder), !c.removesFiles) << zv::ToUtf8(folder);
  }
  for (const std::wstring& file : others) EXPECT_EQ(zvtest::ReadFileBytes(file), "kept") << zv::ToUtf8(file);
}

INSTANTIATE_TEST_SUITE_P(Param2, PcGameDeleteTest,
                         ::testing::Values(DeleteCase{"VariantTrue", L"8011", VT_BOOL, VARIANT_TRUE, true},
                                           DeleteCase{"VariantFalse", L"8012", VT_BOOL, VARIANT_FALSE, false},
                                           DeleteCase{"IntegerMinusOne", L"8013", VT_I4, -1, false}),
                         [](const ::testing::TestParamInfo<DeleteCase>& info) { return info.param.what; });

TEST_F(PcGameFlowTest, SetStorePathRefusesWhatDoesNotFitAndKeepsATrailingBackslash) {
  zv::HallHost& host = NewHall();
  // The store path and the backslash added for its creation fit 260
  // characters with the terminator, or the path is refused.
  const std::wstring edge = store_ / L"edge\\";
  struct Length {
    size_t characters;
    bool endsWithBackslash;
    HRESULT expected;
  };
  for (const Length& length : {Length{258, false, S_OK}, Length{259, true, S_OK}}) {
    std::wstring path = edge + std::wstring(length.characters - edge.size(), L'e');
    if (length.endsWithBackslash) path.back() = L'\\';
    zv::UniqueVariant result;
    EXPECT_EQ(Call(host, L"SETSTOREPATH", Text(path), Missing(), result.get()), length.expected)
        << length.characters;
  }

  const std::wstring folder = store_ / L"新的\\store\\";
  EXPECT_EQ(Ask(host, L"SETSTOREPATH", folder), kSentinel);
  EXPECT_TRUE(FolderExists(folder));

  const std::wstring refused = store_ / L"refused\\";
  for (const Length& length : {Length{259, false, E_INVALIDARG}, Length{260, true, E_INVALIDARG},
                               Length{400, false, E_INVALIDARG}}) {
    std::wstring path = refused + std::wstring(length.characters - refused.size(), L'r');
    if (length.endsWithBackslash) path.back() = L'\\';
    zv::UniqueVariant result;
    EXPECT_EQ(Call(host, L"SETSTOREPATH", Text(path), Missing(), result.get()), length.expected)
        << length.characters;
  }
  EXPECT_FALSE(FolderExists(refused)) << "nothing of a refused path is created";

  // Paths computed from now on use the store path as it was given.
  const std::wstring id = UseId(L"8021");
  GameSpec game = Game(id);
  game.clients = {{"MZ"}};
  pchalltest::Publish(server_, game);
  EXPECT_EQ(AddGame(host, id, kPcHall, Missing()), -1);
  ASSERT_TRUE(WaitEvent(host, L"GameConfigDownloadOk", L"p1", id));
  EXPECT_EQ(Config(id).ReadString(L"config", L"setup"), folder + L"\\Download\\8021\\8021_0.exe");
}

TEST_F(PcGameFlowTest, OpenGamePathAnswersForKnownGamesOnly) {
  const std::wstring installedId = UseId(L"8031");
  GameSpec installed = Game(installedId);
  installed.clients = {{"MZ"}};
  LeaveInstalledGame(installed);
  ::DeleteFileW(holds_.back().c_str());
  const std::wstring withoutInfoId = UseId(L"8032");
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, installedId, kPcHall, Missing()), -1);
  EXPECT_EQ(AddGame(host, withoutInfoId, kPcHall, Missing()), -1);
  ASSERT_TRUE(WaitStatus(host, installedId, {{L"state", L"6"}}));

  EXPECT_EQ(Ask(host, L"OPENGAMEPATH", installedId), -1);
  EXPECT_EQ(Ask(host, L"OPENGAMEPATH", withoutInfoId), -1) << "a game without a start program is still known";
  EXPECT_EQ(Ask(host, L"OPENGAMEPATH", L"8039"), 0);
  EXPECT_EQ(Ask(host, L"OPENGAMEPATH", L""), 0);
  EXPECT_EQ(StateOf(host, installedId), 6);
}

}  // namespace
