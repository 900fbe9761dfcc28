// The web hall object's frame: call dispatch with the "ErroMethod" event and
// its trace lines, the hall window with its text, timer and message routing.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "notify_sink.h"
#include "test_support.h"
#include "web_hall/lanternis_core.h"

namespace {

class TestLanternisCore : public CLanternisCore {
 public:
  TestLanternisCore() {
    AddCommand(L"FAILING", static_cast<Handler>(&TestLanternisCore::Failing));
    AddCommand(L"ANSWER", static_cast<Handler>(&TestLanternisCore::Answer));
  }

 private:
  HRESULT Failing(VARIANT, VARIANT, VARIANT*) { return E_ACCESSDENIED; }
  HRESULT Answer(VARIANT, VARIANT, VARIANT* result) {
    if (result) {
      result->vt = VT_I4;
      result->lVal = 5;
    }
    return S_OK;
  }
};

// Stands in for the trace viewer: a top-level window titled "DbgView" in this
// process that keeps every line sent to it.
class TraceCapture {
 public:
  TraceCapture() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &TraceCapture::Procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TraceCaptureWindow";
    ::RegisterClassW(&windowClass);
    window_.reset(::CreateWindowExW(0, L"TraceCaptureWindow", nullptr, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                    windowClass.hInstance, nullptr));
    if (window_) {
      ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      ::SetWindowTextA(window_.get(), "DbgView");
      ready_ = true;
    }
  }
  bool Ready() const { return ready_; }
  std::vector<std::wstring>& Lines() { return lines_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TraceCapture*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_SETTEXT && self && self->ready_) {
      self->lines_.emplace_back(reinterpret_cast<const wchar_t*>(lParam));
      return TRUE;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  zv::UniqueWindow window_;
  bool ready_ = false;
  std::vector<std::wstring> lines_;
};

class WebHallFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(zv::ComObject<TestLanternisCore>::Create(kLanternisLogicObjectIid, hall_.put_void()), S_OK);
    object_ = static_cast<TestLanternisCore*>(hall_.get());
  }

  zv::ComPtr<ILanternisLogic> hall_;
  TestLanternisCore* object_ = nullptr;
};

struct DispatchCase {
  const wchar_t* method;
  bool errorEvent;
  VARTYPE resultType;
};

TEST_F(WebHallFrame, CallAnswersSOkAndReportsUnknownNamesWithErroMethod) {
  std::vector<zvtest::NotifyRecord> log;
  zvtest::NotifySink first(1, DIID__ILanternisEvents, &log);
  zvtest::NotifySink second(2, DIID__ILanternisEvents, &log);
  zv::ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(hall_->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  zv::ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ILanternisEvents, point.put()), S_OK);
  DWORD cookies[2] = {};
  ASSERT_EQ(point->Advise(&first, &cookies[0]), S_OK);
  ASSERT_EQ(point->Advise(&second, &cookies[1]), S_OK);

  const DispatchCase cases[] = {
      {nullptr, true, VT_EMPTY},       {L"", true, VT_EMPTY},           {L"NOSUCH", true, VT_EMPTY},
      {L"GETLOCALPAGEFILEPATH", true, VT_EMPTY}, {L"failing", false, VT_EMPTY}, {L"Answer", false, VT_I4},
  };
  for (const DispatchCase& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(test.method ? test.method : L"<null>")));
    log.clear();
    zv::UniqueBstr method(test.method ? ::SysAllocString(test.method) : nullptr);
    VARIANT empty;
    ::VariantInit(&empty);
    VARIANT result;
    result.vt = VT_ERROR;
    result.scode = 0x5A5A;
    EXPECT_EQ(hall_->call(method.get(), empty, empty, &result), S_OK);
    EXPECT_EQ(result.vt, test.resultType);
    if (test.errorEvent) {
      ASSERT_EQ(log.size(), 2u);
      EXPECT_EQ(log[0].sink, 1);
      EXPECT_EQ(log[1].sink, 2);
      EXPECT_EQ(log[0].event, L"ErroMethod");
      EXPECT_EQ(log[0].param1Type, VT_EMPTY);
      EXPECT_EQ(log[0].param2Type, VT_EMPTY);
    } else {
      EXPECT_TRUE(log.empty());
    }
  }
  VARIANT empty;
  ::VariantInit(&empty);
  EXPECT_EQ(hall_->call(zv::UniqueBstr(::SysAllocString(L"answer")).get(), empty, empty, nullptr), S_OK)
      << "a null result pointer is tolerated";
  EXPECT_EQ(point->Unadvise(cookies[0]), S_OK);
  EXPECT_EQ(point->Unadvise(cookies[1]), S_OK);
}

TEST_F(WebHallFrame, CallAndNotifyWriteTheirTraceLines) {
  TraceCapture capture;
  if (!capture.Ready()) GTEST_SKIP() << "a top-level window needs a display";
  std::vector<zvtest::NotifyRecord> log;
  zvtest::NotifySink sink(1, DIID__ILanternisEvents, &log);
  zvtest::NotifySink other(2, DIID__ILanternisEvents, &log);
  zv::ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(hall_->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  zv::ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ILanternisEvents, point.put()), S_OK);
  DWORD cookies[2] = {};
  ASSERT_EQ(point->Advise(&other, &cookies[0]), S_OK);
  ASSERT_EQ(point->Advise(&sink, &cookies[1]), S_OK);
  ASSERT_EQ(point->Unadvise(cookies[0]), S_OK);

  VARIANT empty;
  ::VariantInit(&empty);
  VARIANT result;
  EXPECT_EQ(hall_->call(zv::UniqueBstr(::SysAllocString(L"nosuch")).get(), empty, empty, &result), S_OK);
  const std::vector<std::wstring> expected = {
      L"MMMMM----进入call",
      L"进入Fire_Notify of CProxy_ILanternisEvents 1",
      L"进入Fire_Notify of CProxy_ILanternisEvents 2,iConnection = 0",
      L"进入Fire_Notify of CProxy_ILanternisEvents 2,iConnection = 1",
      L"进入Fire_Notify of CProxy_ILanternisEvents 3",
      L"进入Fire_Notify of CProxy_ILanternisEvents 4",
      L"MMMMM----call没找到要调用的函数",
  };
  EXPECT_EQ(capture.Lines(), expected);
  EXPECT_EQ(point->Unadvise(cookies[1]), S_OK);
}

TEST_F(WebHallFrame, HallWindowCarriesItsTextTimerAndRoutesItsMessages) {
  const HWND window = object_->WindowHandle();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(::FindWindowExW(HWND_MESSAGE, nullptr, nullptr, L"{AEE38D2B-0EB7-4644-AF71-E3EF7DE55B53}"), window);
  EXPECT_EQ(::GetWindowThreadProcessId(window, nullptr), ::GetCurrentThreadId());

  COPYDATASTRUCT data = {1, 0, nullptr};
  EXPECT_EQ(::SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
  for (const UINT message : {UINT{WM_TIMER}, UINT{WM_HOTKEY}, CLanternisCore::kIconDownloadedMessage,
                             CLanternisCore::kMainThreadOperationMessage, CLanternisCore::kLocalGameInfoMessage}) {
    EXPECT_EQ(::SendMessageW(window, message, 0, 0), 0) << message;
  }
  EXPECT_TRUE(::KillTimer(window, CLanternisCore::kIdleTimer)) << "timer 1000 runs on the hall window";

  zv::ComPtr<IPipewellEvent> peerSink;
  ASSERT_EQ(hall_->QueryInterface(__uuidof(IPipewellEvent), peerSink.put_void()), S_OK);
  EXPECT_EQ(peerSink->OnReceiveData(L"OnReceiveData", nullptr), S_OK);
}

TEST(WebHallLifetime, LastReleaseDestroysTheHallWindow) {
  HWND window = nullptr;
  {
    zv::ComPtr<ILanternisLogic> hall;
    ASSERT_EQ(zv::ComObject<CLanternisCore>::Create(kLanternisLogicObjectIid, hall.put_void()), S_OK);
    window = static_cast<CLanternisCore*>(hall.get())->WindowHandle();
    EXPECT_TRUE(::IsWindow(window));
  }
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(::FindWindowExW(HWND_MESSAGE, nullptr, nullptr, L"{AEE38D2B-0EB7-4644-AF71-E3EF7DE55B53}"), nullptr);
}

}  // namespace
