// The PC hall object's frame: call/callfrom dispatch, Notify firing through
// the connection point, and the status message of the hall window.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <string>
#include <thread>
#include <vector>

#include "common/handles.h"
#include "notify_sink.h"
#include "pc_hall/pc_game_logic.h"
#include "test_support.h"

namespace {

// The hall with a few handlers of its own, registered the way the hall's
// parts register theirs.
class TestPCGameLogic : public CPCGameLogic {
 public:
  HRESULT FinalConstruct() {
    RETURN_IF_FAILED(CPCGameLogic::FinalConstruct());
    RETURN_IF_FAILED(AddCommand(L"FAILING", static_cast<Handler>(&TestPCGameLogic::Failing)));
    return AddCommand(L"ÉTÉ", static_cast<Handler>(&TestPCGameLogic::Summer));
  }

 private:
  HRESULT Failing(VARIANT param1, VARIANT, VARIANT* result) {
    result->vt = VT_I4;
    result->lVal = param1.vt == VT_I4 ? param1.lVal : -1;
    return E_ACCESSDENIED;
  }
  HRESULT Summer(VARIANT, VARIANT, VARIANT* result) {
    result->vt = VT_I2;
    result->iVal = -1;
    return S_OK;
  }
};

// A game in the table that records when it is asked for its status.
class RecordingGame final : public GameTableItem {
 public:
  RecordingGame(std::vector<std::wstring>* log, std::wstring id) : log_(log), id_(std::move(id)) {}
  void FireStatusChanged() override { log_->push_back(id_); }

 private:
  std::vector<std::wstring>* log_;
  std::wstring id_;
};

class PcHallFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(zv::ComObject<TestPCGameLogic>::Create(IID_IPCGameLogic, hall_.put_void()), S_OK);
    object_ = static_cast<TestPCGameLogic*>(hall_.get());
  }

  zv::ComPtr<IPCGameLogic> hall_;
  TestPCGameLogic* object_ = nullptr;
};

struct DispatchCase {
  const wchar_t* method;  // null: no name
  HRESULT expected;
  VARTYPE resultType;  // VT_ERROR: the sentinel stays untouched
  LONG resultValue;
};

TEST_F(PcHallFrame, CallAndCallfromDispatchThroughTheCommandMap) {
  const DispatchCase cases[] = {
      {nullptr, E_INVALIDARG, VT_ERROR, 0},
      {L"NOSUCH", S_FALSE, VT_ERROR, 0},
      {L"", S_FALSE, VT_ERROR, 0},
      {L"init", S_OK, VT_ERROR, 0},
      {L"Init", S_OK, VT_ERROR, 0},
      {L"INIT", S_OK, VT_ERROR, 0},
      {L"failing", E_ACCESSDENIED, VT_I4, 42},
      {L"été", S_OK, VT_I2, -1},
      {L"INIT ", S_FALSE, VT_ERROR, 0},
  };
  for (const bool viaCallfrom : {false, true}) {
    for (const DispatchCase& test : cases) {
      SCOPED_TRACE(::testing::Message() << (viaCallfrom ? "callfrom " : "call ")
                                        << ::testing::PrintToString(std::wstring(test.method ? test.method : L"<null>")));
      zv::UniqueBstr method(test.method ? ::SysAllocString(test.method) : nullptr);
      zv::UniqueBstr froms(::SysAllocString(L"anyone"));
      VARIANT param1;
      param1.vt = VT_I4;
      param1.lVal = 42;
      VARIANT param2;
      ::VariantInit(&param2);
      VARIANT result;
      result.vt = VT_ERROR;
      result.scode = 0x5A5A;
      const HRESULT hr = viaCallfrom ? hall_->callfrom(method.get(), froms.get(), param1, param2, &result)
                                     : hall_->call(method.get(), param1, param2, &result);
      EXPECT_EQ(hr, test.expected);
      EXPECT_EQ(result.vt, test.resultType);
      if (test.resultType == VT_ERROR) {
        EXPECT_EQ(result.scode, 0x5A5A) << "result untouched";
      } else if (test.resultType == VT_I4) {
        EXPECT_EQ(result.lVal, test.resultValue);
      } else {
        EXPECT_EQ(result.iVal, test.resultValue);
      }
    }
  }
}

TEST_F(PcHallFrame, NotifyReachesSinksInCookieOrderWithItsArguments) {
  zv::ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(hall_->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  zv::ComPtr<IConnectionPoint> point;
  void* wrong = reinterpret_cast<void*>(1);
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, reinterpret_cast<IConnectionPoint**>(&wrong)),
            CONNECT_E_NOCONNECTION);
  EXPECT_EQ(wrong, nullptr);
  ASSERT_EQ(container->FindConnectionPoint(DIID__IPCGameLogicEvents, point.put()), S_OK);
  IID connected = IID_NULL;
  EXPECT_EQ(point->GetConnectionInterface(&connected), S_OK);
  EXPECT_TRUE(::IsEqualIID(connected, DIID__IPCGameLogicEvents));

  const zv::UniqueVariant empty;
  EXPECT_EQ(object_->Fire_Notify(L"Nobody", *empty.get(), *empty.get()), S_OK) << "no sinks: nothing to do";

  std::vector<zvtest::NotifyRecord> log;
  zvtest::NotifySink first(1, DIID__IPCGameLogicEvents, &log);
  zvtest::NotifySink second(2, DIID__IPCGameLogicEvents, &log);
  zvtest::NotifySink third(3, DIID__IPCGameLogicEvents, &log);
  zvtest::NotifySink fourth(4, DIID__IPCGameLogicEvents, &log);
  zvtest::NotifySink refused(5, DIID__IPCGameLogicEvents, &log, false);
  DWORD cookies[4] = {};
  ASSERT_EQ(point->Advise(&first, &cookies[0]), S_OK);
  ASSERT_EQ(point->Advise(&second, &cookies[1]), S_OK);
  ASSERT_EQ(point->Advise(&third, &cookies[2]), S_OK);
  EXPECT_EQ(cookies[0], 1u);
  EXPECT_EQ(cookies[1], 2u);
  EXPECT_EQ(cookies[2], 3u);
  DWORD refusedCookie = 77;
  EXPECT_EQ(point->Advise(&refused, &refusedCookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(refusedCookie, 0u);
  EXPECT_EQ(refused.References(), 1) << "a refused sink is not kept";

  EXPECT_EQ(point->Unadvise(cookies[1]), S_OK);
  EXPECT_EQ(second.References(), 1);
  for (const DWORD bad : {DWORD{0}, cookies[1], DWORD{4}, DWORD{1000}}) {
    EXPECT_EQ(point->Unadvise(bad), CONNECT_E_NOCONNECTION) << bad;
  }

  zv::UniqueVariant param1;
  param1->vt = VT_I4;
  param1->lVal = 7;
  zv::UniqueVariant param2;
  param2->vt = VT_BSTR;
  param2->bstrVal = ::SysAllocString(L"second");
  EXPECT_EQ(object_->Fire_Notify(L"GameStatusChanged", *param1.get(), *param2.get()), S_OK);
  ASSERT_EQ(log.size(), 2u) << "the freed slot is skipped";
  EXPECT_EQ(log[0].sink, 1);
  EXPECT_EQ(log[1].sink, 3);
  EXPECT_EQ(log[0].event, L"GameStatusChanged");
  EXPECT_EQ(log[0].param1Type, VT_I4);
  EXPECT_EQ(log[0].param1, 7);
  EXPECT_EQ(log[0].param2Type, VT_BSTR);
  EXPECT_EQ(log[0].param2, L"second");

  ASSERT_EQ(point->Advise(&fourth, &cookies[3]), S_OK);
  EXPECT_EQ(cookies[3], 2u) << "the freed slot is reused";
  log.clear();
  EXPECT_EQ(object_->Fire_Notify(L"Again", *empty.get(), *empty.get()), S_OK);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].sink, 1);
  EXPECT_EQ(log[1].sink, 4);
  EXPECT_EQ(log[2].sink, 3);
  EXPECT_EQ(log[1].param1Type, VT_EMPTY);

  zv::ComPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(connections.put()), S_OK);
  CONNECTDATA data[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(4, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  EXPECT_EQ(data[0].dwCookie, 1u);
  EXPECT_EQ(data[1].dwCookie, 2u);
  EXPECT_EQ(data[2].dwCookie, 3u);
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
  connections.reset();

  for (const DWORD cookie : {cookies[0], cookies[2], cookies[3]}) EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(first.References(), 1);
  EXPECT_EQ(third.References(), 1);
  EXPECT_EQ(fourth.References(), 1);
}

TEST_F(PcHallFrame, StatusMessageRebuildsTheZeroPaddedIdOnTheHallThread) {
  std::vector<std::wstring> asked;
  object_->Games()[L"000123"] = std::make_unique<RecordingGame>(&asked, L"000123");
  object_->Games()[L"123"] = std::make_unique<RecordingGame>(&asked, L"123");
  const HWND window = object_->WindowHandle();
  ASSERT_NE(window, nullptr);
  // Hall windows of other test programs running meanwhile are listed too.
  HWND listed = nullptr;
  do {
    listed = ::FindWindowExW(HWND_MESSAGE, listed, L"OstrelleHallWindow", nullptr);
  } while (listed && listed != window);
  EXPECT_EQ(listed, window) << "message-only";
  EXPECT_EQ(::GetWindowThreadProcessId(window, nullptr), ::GetCurrentThreadId());

  // An unknown id first: it is ignored, and the known one still arrives after it.
  ASSERT_TRUE(::PostMessageW(window, CPCGameLogic::kGameStatusMessage, 6, 999));
  ASSERT_TRUE(::PostMessageW(window, CPCGameLogic::kGameStatusMessage, 6, 123));
  ASSERT_TRUE(zvtest::WaitFor([&] { return !asked.empty(); }));
  EXPECT_EQ(asked, std::vector<std::wstring>{L"000123"});
  EXPECT_EQ(::SendMessageW(window, CPCGameLogic::kGameStatusMessage, 3, 123), 0);
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"000123", L"123"}));
}

// Reports queued from any thread ride on one status message and reach each
// game once, in the order the games first asked, on the hall's thread.
TEST_F(PcHallFrame, QueuedStatusReportsArriveOncePerGame) {
  std::vector<std::wstring> asked;
  object_->Games()[L"7"] = std::make_unique<RecordingGame>(&asked, L"7");
  object_->Games()[L"8"] = std::make_unique<RecordingGame>(&asked, L"8");
  std::thread engine([this] {
    for (const wchar_t* id : {L"8", L"7", L"8", L"404", L"8"}) object_->PostStatusChanged(id);
  });
  engine.join();
  MSG message;
  size_t posted = 0;
  while (::PeekMessageW(&message, object_->WindowHandle(), CPCGameLogic::kGameStatusMessage,
                        CPCGameLogic::kGameStatusMessage, PM_REMOVE)) {
    ++posted;
    ::DispatchMessageW(&message);
  }
  EXPECT_EQ(posted, 1u);
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"8", L"7"}));
}

TEST(PcHallStatusId, DigitCountAndValueGiveTheId) {
  struct Case {
    WPARAM digits;
    LPARAM value;
    const wchar_t* id;
  };
  const Case cases[] = {
      {6, 123, L"000123"}, {3, 123, L"123"},      {1, 123, L"123"},  {10, 2147483647, L"2147483647"},
      {12, 42, L"000000000042"}, {33, 1, L""},   {static_cast<WPARAM>(-1), 1, L""},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(CPCGameLogic::GameIdFromStatusMessage(test.digits, test.value), test.id) << test.digits;
  }
}

TEST(PcHallLifetime, LastReleaseDestroysTheHallWindow) {
  HWND window = nullptr;
  {
    zv::ComPtr<IPCGameLogic> hall;
    ASSERT_EQ(zv::ComObject<CPCGameLogic>::Create(IID_IPCGameLogic, hall.put_void()), S_OK);
    window = static_cast<CPCGameLogic*>(hall.get())->WindowHandle();
    EXPECT_TRUE(::IsWindow(window));
  }
  EXPECT_FALSE(::IsWindow(window));
}

}  // namespace
