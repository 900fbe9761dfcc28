// The PC hall's commands, downloads and restarts, driven through the shared
// fixture (pc_hall_fixture.h).
#include "pc_hall_fixture.h"

#include "common/locations.h"
#include "common/text.h"
#include "zip_writer.h"

namespace {

using pchalltest::GameSpec;
using pchalltest::Int;
using pchalltest::kSentinel;
using pchalltest::kWaitMs;
using pchalltest::Missing;
using pchalltest::PartSpec;
using pchalltest::PcHallTest;
using pchalltest::SeenEvent;
using pchalltest::Text;
using pchalltest::Wide;

GameSpec ThreePartGame(const std::string& id) {
  GameSpec game;
  game.id = id;
  game.name = "Hero" + id;
  game.startupFile = "hero.exe";
  game.clients = {{std::string(3000, 'a')}, {std::string(5000, 'b')}};
  game.patches = {{std::string(1000, 'c')}};
  return game;
}

// A part large and slow enough for the engine to report its progress.
PartSpec SlowPart(char fill, int64_t bytesPerSecond = 100000) {
  PartSpec part{std::string(200000, fill)};
  part.options.bytesPerSecond = bytesPerSecond;
  return part;
}

TEST(Catalogue, EncryptorMatchesTheIndependentTool) {
  EXPECT_EQ(pchalltest::EncryptFileUrl("123", "http://127.0.0.1:8080/pc/123_0.exe"),
            "ZVURL1xvgOAT8nm1oi5iMuv67XBN+1MUxYHySaPsT7Q2m/rseYg1qeSKUMaQ==");
  EXPECT_EQ(pchalltest::EncryptFileUrl("42", "http://a/b"), "ZVURL1wbFInaFasFtbfiZy9/lluA==");
}

TEST_F(PcHallTest, CommandsRefuseANonTextIdAndLeaveResultAlone) {
  zv::HallHost& host = NewHall();
  const wchar_t* commands[] = {L"CREATEDOWNLOADGAME", L"CONTINUEDOWNLOADGAME", L"SETUPGAME",
                               L"PAUSEDOWNLOADGAME", L"DELETEDOWNLOADGAME", L"CANCELSETUPGAME",
                               L"UNINSTALLGAME", L"UNINSTALLGAMETODOWNLOADEDSTATE", L"GETGAMEINFO",
                               L"GETGAMESTATUS", L"STARTGAME", L"SETSTOREPATH", L"OPENGAMEPATH",
                               L"DELETEGAME", L"ONZORVANADDGAME"};
  for (const wchar_t* command : commands) {
    SCOPED_TRACE(testing::Message() << zv::ToUtf8(command));
    zv::UniqueVariant result;
    result->vt = VT_I4;
    result->lVal = kSentinel;
    EXPECT_EQ(Call(host, command, Int(7001), Missing(), result.get()), E_INVALIDARG);
    EXPECT_EQ(result->vt, VT_I4);
    EXPECT_EQ(result->lVal, kSentinel);
  }
}

TEST_F(PcHallTest, UnknownGamesAndCommandsAnswerAsTheTableSays) {
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7002");
  for (const wchar_t* command : {L"CREATEDOWNLOADGAME", L"CONTINUEDOWNLOADGAME", L"SETUPGAME", L"PAUSEDOWNLOADGAME",
                                 L"DELETEDOWNLOADGAME", L"CANCELSETUPGAME", L"UNINSTALLGAME",
                                 L"UNINSTALLGAMETODOWNLOADEDSTATE", L"OPENGAMEPATH", L"STARTGAME"}) {
    SCOPED_TRACE(testing::Message() << zv::ToUtf8(command));
    EXPECT_EQ(Ask(host, command, id), 0);
  }
  EXPECT_EQ(Ask(host, L"DELETEGAME", id), kSentinel);
  EXPECT_EQ(Ask(host, L"INIT", id), kSentinel);

  zv::UniqueVariant status;
  status->vt = VT_I4;
  status->lVal = kSentinel;
  EXPECT_EQ(Call(host, L"GETGAMESTATUS", Text(id), Missing(), status.get()), S_FALSE);
  EXPECT_EQ(status->vt, VT_EMPTY);

  zv::UniqueVariant info;
  EXPECT_EQ(Call(host, L"GETGAMEINFO", Text(id), Missing(), info.get()), S_OK);
  EXPECT_EQ(info->vt, VT_EMPTY);

  zv::UniqueVariant unknown;
  unknown->vt = VT_I4;
  unknown->lVal = kSentinel;
  EXPECT_EQ(Call(host, L"NOSUCHCOMMAND", Text(id), Missing(), unknown.get()), S_FALSE);
  EXPECT_EQ(unknown->lVal, kSentinel);
}

TEST_F(PcHallTest, AddRefusesWhatIsNotAGameObject) {
  zv::HallHost& host = NewHall();
  zv::UniqueVariant result;
  result->vt = VT_I4;
  result->lVal = kSentinel;
  EXPECT_EQ(Call(host, L"ONZORVANADDGAME", Text(L"7003"), Missing(), result.get()), E_INVALIDARG);
  EXPECT_EQ(result->lVal, kSentinel);

  for (const wchar_t* badId : {L"", L"12a", L"..\\..\\x", L"99999999999", L"2147483648"}) {
    SCOPED_TRACE(testing::Message() << zv::ToUtf8(badId));
    zv::ComPtr<IDispatch> object;
    VARIANT idValue = Text(badId);
    ASSERT_EQ(host.MakeScriptObject({{L"id", idValue}, {L"hallid", Int(1000001)}}, object.put()), S_OK);
    ::VariantClear(&idValue);
    VARIANT param1;
    param1.vt = VT_DISPATCH;
    param1.pdispVal = object.detach();
    EXPECT_EQ(Call(host, L"ONZORVANADDGAME", param1, Missing(), result.get()), E_INVALIDARG);
    EXPECT_EQ(result->lVal, kSentinel);
  }
}

TEST_F(PcHallTest, AddingTwiceKeepsTheFirstGameAndItsTarget) {
  GameSpec game = ThreePartGame("7004");
  pchalltest::Publish(server_, game);
  // The information arrives slowly, after the second add.
  zvtest::HttpOptions slow;
  slow.bytesPerSecond = 400;
  server_.SetOptions(pchalltest::InfoPath(game.id, game.hallId), slow);
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7004");
  EXPECT_EQ(AddGame(host, id, 1000001, Missing()), -1);
  EXPECT_EQ(AddGame(host, id, 1000001, Int(6)), 0);
  ASSERT_TRUE(WaitEvent(host, L"GameConfigDownloadOk", L"p1", id));
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"3"}, {L"downloadstate", L"0"}}));
  ::Sleep(300);
  EXPECT_EQ(server_.RequestCount(pchalltest::PartPath(game, false, 0)), 0u);
}

TEST_F(PcHallTest, DefaultTargetFetchesTheInformationOnly) {
  GameSpec game = ThreePartGame("7005");
  pchalltest::Publish(server_, game);
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7005");
  EXPECT_EQ(AddGame(host, id, 1000001, Missing()), -1);

  zv::HostEvent ready;
  ASSERT_TRUE(WaitEvent(host, L"GameConfigDownloadOk", L"p1", id, &ready));
  EXPECT_EQ(ready.fields[L"game7005@.name"], L"Hero7005");
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"3"}, {L"downloadstate", L"0"}, {L"gamename", L"Hero7005"}}));
  EXPECT_TRUE(zvtest::FileExists(GameFolder(id) + L"\\game.xml"));
  EXPECT_EQ(Config(id).ReadInt(L"config", L"state", 0), 3);

  zv::UniqueVariant info;
  ASSERT_EQ(Call(host, L"GETGAMEINFO", Text(id), Missing(), info.get()), S_OK);
  ASSERT_EQ(info->vt, VT_DISPATCH);
  EXPECT_NE(zv::DescribeVariant(*info.get()).find(L"name=\"Hero7005\""), std::wstring::npos);

  ::Sleep(300);
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(server_.RequestCount(pchalltest::PartPath(game, false, i)), 0u);
}

// The host may create its next hall before the last one is gone.
TEST_F(PcHallTest, AHallGoingAwayLeavesTheNewerHallItsInformation) {
  GameSpec game = ThreePartGame("7301");
  pchalltest::Publish(server_, game);
  NewHall();
  zv::HallHost& newer = NewHall();
  halls_.erase(halls_.begin());
  const std::wstring id = UseId(L"7301");
  EXPECT_EQ(AddGame(newer, id, 1000001, Missing()), -1);
  EXPECT_TRUE(WaitEvent(newer, L"GameConfigDownloadOk", L"p1", id));
}

TEST_F(PcHallTest, InstalledTargetDownloadsEveryPartAndCompletesOnce) {
  GameSpec game = ThreePartGame("7006");
  game.clients[1] = SlowPart('b', 400000);
  pchalltest::Publish(server_, game);
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7006");
  EXPECT_EQ(AddGame(host, id, 1000001, Int(6)), -1);

  zv::HostEvent complete;
  ASSERT_TRUE(WaitEvent(host, L"GameDownloadComplete", L"gameid", id, &complete));
  EXPECT_EQ(complete.fields[L"partcount"], L"3");
  EXPECT_EQ(complete.fields[L"status"], L"2");
  // Without a setup program to run, the PC game waits prepared for its setup.
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"5"}, {L"downloadstate", L"0"}}));
  ::Sleep(300);

  EXPECT_EQ(zvtest::ReadFileBytes(DownloadFile(id, L"7006_0.exe")), game.clients[0].body);
  EXPECT_EQ(zvtest::ReadFileBytes(DownloadFile(id, L"7006_1.rar")), game.clients[1].body);
  EXPECT_EQ(zvtest::ReadFileBytes(DownloadFile(id, L"7006_p0.rar")), game.patches[0].body);
  EXPECT_EQ(Seen(L"GameDownloadComplete", L"gameid", id).size(), 1u);
  const auto notices = Seen(L"GameDownloadNotify", L"gameid", id);
  ASSERT_FALSE(notices.empty());
  const auto& keys = notices.front().event.fields;
  for (const wchar_t* key : {L"speed", L"speedvalue", L"status", L"filesize_str", L"filesize", L"completesize",
                             L"url", L"gameid", L"gamename", L"partcount", L"partindex"}) {
    EXPECT_EQ(keys.count(key), 1u) << zv::ToUtf8(key);
  }
  EXPECT_EQ(Config(id).ReadInt(L"download", L"progress", 0), 100);
  EXPECT_EQ(Config(id).ReadInt(L"config", L"state", 0), 5);
  EXPECT_EQ(Config(id).ReadString(L"config", L"setup"), DownloadFile(id, L"7006_0.exe"));

  // Status reports reach the host on its own thread only; downloads report
  // from the engine's.
  for (const SeenEvent& seen : Seen(L"GameStatusChanged", L"p1", id)) EXPECT_EQ(seen.threadId, ::GetCurrentThreadId());
  EXPECT_NE(Seen(L"GameDownloadComplete", L"gameid", id).front().threadId, ::GetCurrentThreadId());
}

TEST_F(PcHallTest, AGameWhoseStartProgramExistsIsInstalledAfterItsDownload) {
  GameSpec game = ThreePartGame("7007");
  game.clients = {SlowPart('a')};
  game.patches.clear();
  pchalltest::Publish(server_, game);
  const std::wstring program = storePath_ + L"\\Games\\Hero7007\\Hero7007\\hero.exe";
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7007");
  EXPECT_EQ(AddGame(host, id, 1000001, Int(6)), -1);
  ASSERT_TRUE(WaitEvent(host, L"GameDownloadNotify", L"gameid", id));
  // The setup would put the program there; here the test does.
  zv::CreateFolderTree(storePath_ + L"\\Games\\Hero7007\\Hero7007");
  zvtest::WriteFileBytes(program, "MZ");
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"6"}, {L"downloadstate", L"0"}}));
  EXPECT_EQ(Config(id).ReadString(L"config", L"startup"), program);
}

TEST_F(PcHallTest, PauseKeepsDownloadingAndContinueFetchesOnlyWhatIsMissing) {
  GameSpec game = ThreePartGame("7008");
  game.clients[1].body = std::string(400000, 'b');
  game.clients[1].options.bytesPerSecond = 40000;
  pchalltest::Publish(server_, game);
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7008");
  EXPECT_EQ(AddGame(host, id, 1000001, Int(6)), -1);
  ASSERT_TRUE(zvtest::WaitFor([&] { return zvtest::FileExists(DownloadFile(id, L"7008_0.exe")); }, kWaitMs));
  ASSERT_TRUE(WaitEvent(host, L"GameDownloadNotify", L"partindex", L"1"));

  EXPECT_EQ(Ask(host, L"PAUSEDOWNLOADGAME", id), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"3"}, {L"downloadstate", L"0"}}));
  ::Sleep(500);
  EXPECT_EQ(StateOf(host, id), 3);
  EXPECT_FALSE(zvtest::FileExists(DownloadFile(id, L"7008_1.rar")));
  // Pausing what is not downloading changes nothing and still answers yes.
  EXPECT_EQ(Ask(host, L"PAUSEDOWNLOADGAME", id), -1);

  zvtest::HttpOptions fast;
  server_.SetOptions(pchalltest::PartPath(game, false, 1), fast);
  EXPECT_EQ(Ask(host, L"CONTINUEDOWNLOADGAME", id), -1);
  ASSERT_TRUE(WaitEvent(host, L"GameDownloadComplete", L"gameid", id));
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"5"}}));
  EXPECT_EQ(server_.RequestCount(pchalltest::PartPath(game, false, 0)), 1u);
  EXPECT_EQ(server_.RequestCount(pchalltest::PartPath(game, true, 0)), 1u);
  EXPECT_EQ(zvtest::ReadFileBytes(DownloadFile(id, L"7008_1.rar")), game.clients[1].body);
}

TEST_F(PcHallTest, DeleteDownloadCancelsTheRunningDownload) {
  GameSpec game = ThreePartGame("7009");
  game.clients.resize(1);
  game.patches.clear();
  game.clients[0].body = std::string(400000, 'a');
  game.clients[0].options.bytesPerSecond = 40000;
  pchalltest::Publish(server_, game);
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7009");
  EXPECT_EQ(AddGame(host, id, 1000001, Int(6)), -1);
  ASSERT_TRUE(WaitEvent(host, L"GameDownloadNotify", L"gameid", id));

  EXPECT_EQ(Ask(host, L"DELETEDOWNLOADGAME", id), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"2"}, {L"downloadstate", L"0"}}));
  ::Sleep(1000);
  const size_t notices = Seen(L"GameDownloadNotify", L"gameid", id).size();
  ::Sleep(1000);
  EXPECT_EQ(Seen(L"GameDownloadNotify", L"gameid", id).size(), notices);
  EXPECT_EQ(StateOf(host, id), 2);
  EXPECT_FALSE(zvtest::FileExists(DownloadFile(id, L"7009_0.exe")));
}

TEST_F(PcHallTest, AFailedPartStopsShowingDownloading) {
  GameSpec game = ThreePartGame("7010");
  pchalltest::Publish(server_, game);
  server_.AddStatus(pchalltest::PartPath(game, false, 1), 404);
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"7010");
  EXPECT_EQ(AddGame(host, id, 1000001, Int(6)), -1);
  ASSERT_TRUE(zvtest::WaitFor([&] { return zvtest::FileExists(DownloadFile(id, L"7010_p0.rar")); }, kWaitMs));
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"3"}, {L"downloadstate", L"0"}}));
  EXPECT_TRUE(Seen(L"GameDownloadComplete", L"gameid", id).empty());
}

TEST_F(PcHallTest, DamagedInformationIsRefusedWithoutHarm) {
  GameSpec broken;
  broken.id = "7011";
  server_.AddBody(pchalltest::InfoPath("7011", 1000001), "<game7011 name=\"x\"><clients>");
  GameSpec badUrl = ThreePartGame("7012");
  badUrl.clients[1].fileUrl = "ZVURL1EkDu2FEdW8";  // seven bytes: not whole blocks
  badUrl.patches.clear();
  pchalltest::Publish(server_, badUrl);

  zv::HallHost& host = NewHall();
  const std::wstring brokenId = UseId(L"7011");
  const std::wstring badUrlId = UseId(L"7012");
  EXPECT_EQ(AddGame(host, brokenId, 1000001, Int(6)), -1);
  EXPECT_EQ(AddGame(host, badUrlId, 1000001, Int(6)), -1);

  ASSERT_TRUE(zvtest::WaitFor([&] { return zvtest::FileExists(DownloadFile(badUrlId, L"7012_0.exe")); }, kWaitMs));
  ASSERT_TRUE(WaitStatus(host, badUrlId, {{L"state", L"3"}, {L"downloadstate", L"0"}}));
  EXPECT_TRUE(Seen(L"GameDownloadComplete", L"gameid", badUrlId).empty());

  EXPECT_EQ(StateOf(host, brokenId), 1);
  EXPECT_TRUE(Seen(L"GameConfigDownloadOk", L"p1", brokenId).empty());
  zv::UniqueVariant info;
  EXPECT_EQ(Call(host, L"GETGAMEINFO", Text(brokenId), Missing(), info.get()), S_OK);
  EXPECT_EQ(info->vt, VT_EMPTY);
}

TEST_F(PcHallTest, ARestartInTheMiddleOfADownloadResumesDownloading) {
  GameSpec game = ThreePartGame("7013");
  game.clients[0].body = std::string(400000, 'a');
  game.clients[0].options.bytesPerSecond = 40000;
  pchalltest::Publish(server_, game);
  const std::wstring id = UseId(L"7013");
  {
    zv::HallHost& host = NewHall();
    EXPECT_EQ(AddGame(host, id, 1000001, Int(6)), -1);
    ASSERT_TRUE(WaitEvent(host, L"GameDownloadNotify", L"partindex", L"0"));
    CloseHalls();
  }
  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, 1000001, Missing()), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", L"3"}, {L"downloadstate", L"0"}}));
  zvtest::HttpOptions fast;
  server_.SetOptions(pchalltest::PartPath(game, false, 0), fast);
  EXPECT_EQ(Ask(host, L"CREATEDOWNLOADGAME", id), -1);
  ASSERT_TRUE(WaitEvent(host, L"GameDownloadComplete", L"gameid", id));
  EXPECT_EQ(zvtest::ReadFileBytes(DownloadFile(id, L"7013_0.exe")), game.clients[0].body);
}

// The states a new hall object rebuilds from what an earlier one left.
struct RestartCase {
  const char* what;
  const wchar_t* id;
  int storedState;
  int progress;
  bool withInfo;
  bool partsOnDisk;
  bool startProgram;
  int expectedState;
};

class PcHallRestartTest : public PcHallTest, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(PcHallRestartTest, RebuildsTheStateFromTheFiles) {
  const RestartCase& c = GetParam();
  const std::wstring id = UseId(c.id);
  GameSpec game = ThreePartGame(zv::ToUtf8(id));
  pchalltest::Publish(server_, game);
  LeaveEarlierRun(game, c.storedState, c.progress, c.withInfo);
  if (c.partsOnDisk) {
    zv::CreateFolderTree(storePath_ + L"\\Download\\" + id);
    zvtest::WriteFileBytes(DownloadFile(id, id + L"_0.exe"), game.clients[0].body);
    zvtest::WriteFileBytes(DownloadFile(id, id + L"_1.rar"), game.clients[1].body);
    zvtest::WriteFileBytes(DownloadFile(id, id + L"_p0.rar"), game.patches[0].body);
  }
  if (c.startProgram) {
    const std::wstring folder = storePath_ + L"\\Games\\" + Wide(game.name) + L"\\" + Wide(game.name);
    zv::CreateFolderTree(folder);
    zvtest::WriteFileBytes(folder + L"\\hero.exe", "MZ");
  }

  zv::HallHost& host = NewHall();
  EXPECT_EQ(AddGame(host, id, 1000001, Missing()), -1);
  ASSERT_TRUE(WaitStatus(host, id, {{L"state", zv::Format(L"%d", c.expectedState)}}));
  ::Sleep(500);
  EXPECT_EQ(StateOf(host, id), c.expectedState);
  EXPECT_EQ(Config(id).ReadInt(L"config", L"state", 0), c.expectedState);
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(server_.RequestCount(pchalltest::PartPath(game, false, i)), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    States, PcHallRestartTest,
    ::testing::Values(
        // Downloading at 40 %: the information is there, nothing is requested.
        RestartCase{"downloading", L"7101", 3, 40, true, false, false, 3},
        // The information file is gone: back to NoInfo, fetched again, then Downloading.
        RestartCase{"information gone", L"7102", 3, 40, false, false, false, 3},
        // Every part on disk, no start program: Downloaded with the target
        // Running, so it goes on to wait prepared for its setup.
        RestartCase{"downloaded", L"7103", 4, 100, true, true, false, 5},
        // The start program exists: Installed.
        RestartCase{"installed", L"7104", 6, 100, true, true, true, 6},
        // A stored 100 % without any file: reset once to Downloading, no cycle.
        RestartCase{"progress without files", L"7105", 4, 100, true, false, false, 3}),
    [](const ::testing::TestParamInfo<RestartCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST_F(PcHallTest, StartGameFindsTheGameIdSwitchIgnoringCase) {
  GameSpec game = ThreePartGame("0007020");
  pchalltest::Publish(server_, game);
  zv::HallHost& host = NewHall();
  const std::wstring id = UseId(L"0007020");
  EXPECT_EQ(AddGame(host, id, 1000001, Missing()), -1);
  EXPECT_EQ(Ask(host, L"startgame", L"\"C:\\Program Files\\box.exe\" -GameId 0007020 -full"), -1);
  EXPECT_EQ(Ask(host, L"STARTGAME", L"box.exe -gameid"), 0);
  EXPECT_EQ(Ask(host, L"STARTGAME", L"box.exe -gameid 7020"), 0);
  EXPECT_EQ(Ask(host, L"STARTGAME", L""), 0);
}

TEST_F(PcHallTest, SetStorePathCreatesTheFolder) {
  zv::HallHost& host = NewHall();
  const std::wstring folder = store_ / L"新的\\store";
  EXPECT_EQ(Ask(host, L"SETSTOREPATH", folder + L"\\"), kSentinel);
  EXPECT_TRUE(zvtest::WaitFor([&] { return ::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES; }, 1000));
  // A folder that does not fit the path buffer is refused.
  zv::UniqueVariant result;
  EXPECT_EQ(Call(host, L"SETSTOREPATH", Text(std::wstring(300, L'x')), Missing(), result.get()), E_INVALIDARG);
}

}  // namespace

// An emulator game whose ROM is its one part and whose emulator is the
// stand-in, packed in an archive the content server offers at "/emu/StandEmu".
GameSpec EmulatorGame(const std::string& id, const std::string& package, const zvtest::HttpServer& server) {
  GameSpec game;
  game.id = id;
  game.hallId = 1000006;
  game.name = "Rom" + id;
  game.clients = {{"NES\x1a" + std::string(4000, id.back())}};
  game.extraAttributes = "runFlat=\"StandEmu\" downloadUrl=\"" + server.Url("/emu/StandEmu") + "\" pkgName=\"" +
                         package + "\" emuStartFile=\"emu_standin.exe\"";
  return game;
}

class EmulatorHallTest : public PcHallTest {
 protected:
  void SetUp() override {
    PcHallTest::SetUp();
    const std::wstring archive = store_ / L"StandEmu.zip";
    ASSERT_TRUE(zvtest::WriteZip(
        archive, {{"StandEmu/emu_standin.exe", zvtest::ReadFileBytes(zvtest::ProgramFolder() + L"\\emu_standin.exe")}}));
    archive_ = zvtest::ReadFileBytes(archive);
    zvtest::HttpOptions slow;
    slow.bytesPerSecond = 200000;  // both games ask before it has arrived
    server_.AddBody("/emu/StandEmu", archive_, slow);
  }

  static bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  std::wstring EmulatorFolder() const { return storePath_ + L"\\Emu\\StandEmu"; }

  // The stand-in's log: command line and working folder, one line each, per start.
  std::vector<std::string> EmulatorStarts() const {
    std::vector<std::string> lines;
    std::string log = zvtest::ReadFileBytes(EmulatorFolder() + L"\\emu_standin.exe.log");
    for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(log.substr(start, end - start));
    }
    return lines;
  }

  std::string archive_;
};

TEST_F(EmulatorHallTest, GamesSharingAnEmulatorFetchItOnceAndStartWithTheirPackages) {
  const GameSpec nes = EmulatorGame("7201", "star.nes", server_);
  const GameSpec zip = EmulatorGame("7202", "quest.zip", server_);
  pchalltest::Publish(server_, nes);
  pchalltest::Publish(server_, zip);
  zv::HallHost& host = NewHall();
  const std::wstring nesId = UseId(L"7201");
  const std::wstring zipId = UseId(L"7202");
  EXPECT_EQ(AddGame(host, nesId, 1000006, Int(6)), -1);
  EXPECT_EQ(AddGame(host, zipId, 1000006, Int(6)), -1);
  ASSERT_TRUE(WaitStatus(host, nesId, {{L"state", L"6"}}));
  ASSERT_TRUE(WaitStatus(host, zipId, {{L"state", L"6"}}));

  EXPECT_EQ(server_.BytesServed("/emu/StandEmu"), static_cast<int64_t>(archive_.size())) << "one archive download";
  const std::wstring roms = EmulatorFolder() + L"\\roms\\";
  EXPECT_EQ(zvtest::ReadFileBytes(roms + L"star.nes"), nes.clients[0].body);
  EXPECT_EQ(zvtest::ReadFileBytes(roms + L"quest.zip"), zip.clients[0].body);
  for (const std::wstring& id : {nesId, zipId}) {
    const auto setupEvents = Seen(L"SetupEvent", L"p1", id);
    ASSERT_EQ(setupEvents.size(), 1u);
    EXPECT_EQ(setupEvents[0].event.fields.at(L"p2"), L"0");
  }
  const std::wstring program = EmulatorFolder() + L"\\emu_standin.exe";
  EXPECT_EQ(Config(nesId).ReadString(L"config", L"startup"), program);
  EXPECT_EQ(Config(nesId).ReadString(L"config", L"cmdline"), L".\\roms\\star.nes");
  EXPECT_EQ(Config(zipId).ReadString(L"config", L"cmdline"), L"quest -window");

  EXPECT_EQ(Ask(host, L"STARTGAME", L"box.exe -gameid 7201"), -1);
  EXPECT_EQ(Ask(host, L"STARTGAME", L"box.exe -gameid 7202"), -1);
  ASSERT_TRUE(zvtest::WaitFor([&] { return EmulatorStarts().size() == 4; }));
  const std::string programUtf8 = zv::ToUtf8(program);
  const std::string folderUtf8 = zv::ToUtf8(EmulatorFolder());
  const std::vector<std::string> starts = EmulatorStarts();
  EXPECT_EQ(starts[0], programUtf8 + " .\\roms\\star.nes");
  EXPECT_EQ(starts[1], folderUtf8);
  EXPECT_EQ(starts[2], programUtf8 + " quest -window");
  EXPECT_EQ(starts[3], folderUtf8);
  EXPECT_EQ(Ask(host, L"OPENGAMEPATH", nesId), -1);

  // A new hall finds the installed game as it was, without fetching again.
  CloseHalls();
  server_.ResetCounters();
  zv::HallHost& next = NewHall();
  EXPECT_EQ(AddGame(next, zipId, 1000006, Missing()), -1);
  EXPECT_EQ(StateOf(next, zipId), 6);
  EXPECT_EQ(server_.RequestCount("/emu/StandEmu"), 0u);

  // Deleting with its downloads keeps the emulator and the copied package.
  zv::UniqueVariant ignored;
  EXPECT_EQ(Call(next, L"DELETEGAME", Text(zipId), pchalltest::Bool(true), ignored.get()), S_OK);
  EXPECT_FALSE(Exists(DownloadFile(zipId, L"")));
  EXPECT_FALSE(Exists(GameFolder(zipId)));
  EXPECT_TRUE(Exists(program));
  EXPECT_TRUE(Exists(roms + L"quest.zip"));
}
