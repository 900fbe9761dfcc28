#include "pc_hall_fixture.h"

#include <tlhelp32.h>

#include "common/handles.h"
#include "common/locations.h"
#include "common/text.h"

namespace pchalltest {
namespace {

// Ends the processes called exeName that this process started. Explorer
// windows opened by "OPENGAMEPATH" would otherwise outlive the test and keep
// its output open.
void EndChildProcesses(const wchar_t* exeName) {
  zv::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != ::GetCurrentProcessId() || !zv::EqualsIgnoreCase(entry.szExeFile, exeName)) {
      continue;
    }
    zv::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (process) ::TerminateProcess(process.get(), 0);
  }
}

}  // namespace

VARIANT Text(const std::wstring& text) {
  VARIANT value;
  value.vt = VT_BSTR;
  value.bstrVal = ::SysAllocString(text.c_str());
  return value;
}

VARIANT Int(LONG number) {
  VARIANT value;
  value.vt = VT_I4;
  value.lVal = number;
  return value;
}

VARIANT Bool(bool yes) {
  VARIANT value;
  value.vt = VT_BOOL;
  value.boolVal = yes ? VARIANT_TRUE : VARIANT_FALSE;
  return value;
}

VARIANT Missing() {
  VARIANT value;
  value.vt = VT_ERROR;
  value.scode = DISP_E_PARAMNOTFOUND;
  return value;
}

std::wstring Wide(const std::string& text) { return zv::FromUtf8(text); }

void PcHallTest::SetUpTestSuite() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

void PcHallTest::SetUp() {
  ASSERT_TRUE(server_.running());
  storePath_ = store_ / L"store";
  const zv::IniFile settings = zv::Settings();
  settings.WriteString(L"Setting", L"StorePath", storePath_);
  settings.WriteString(L"Server", L"StaticContent", Wide(server_.Url("")));
}

void PcHallTest::TearDown() {
  halls_.clear();
  EndChildProcesses(L"explorer.exe");
  for (const std::wstring& id : ids_) zvtest::RemoveTree(GameFolder(id));
}

std::wstring PcHallTest::UseId(const std::wstring& id) {
  zvtest::RemoveTree(GameFolder(id));
  ids_.push_back(id);
  return id;
}

std::wstring PcHallTest::GameFolder(const std::wstring& id) { return zv::ProductFolder() + L"\\" + id; }

std::wstring PcHallTest::DownloadFile(const std::wstring& id, const std::wstring& name) const {
  return storePath_ + L"\\Download\\" + id + L"\\" + name;
}

zv::HallHost& PcHallTest::NewHall() {
  halls_.push_back(std::make_unique<zv::HallHost>());
  zv::HallHost& host = *halls_.back();
  EXPECT_EQ(host.Load(zvtest::ProgramFolder() + L"\\Ostrelle.dll"), S_OK);
  host.SetObserver([this](const zv::HostEvent& event) {
    std::lock_guard<std::mutex> guard(seenLock_);
    seen_.push_back({event, ::GetCurrentThreadId()});
  });
  return host;
}

void PcHallTest::CloseHalls() { halls_.clear(); }

HRESULT PcHallTest::Call(zv::HallHost& host, const std::wstring& method, VARIANT param1, VARIANT param2,
                         VARIANT* result) {
  // The host calls through the hall's command interface, so the exact
  // HRESULT and an untouched result reach the test.
  const HRESULT hr = host.Call(method, param1, param2, result);
  ::VariantClear(&param1);
  ::VariantClear(&param2);
  return hr;
}

LONG PcHallTest::Ask(zv::HallHost& host, const std::wstring& method, const std::wstring& id) {
  zv::UniqueVariant result;
  result->vt = VT_I4;
  result->lVal = kSentinel;
  EXPECT_EQ(Call(host, method, Text(id), Missing(), result.get()), S_OK) << method.c_str();
  if (result->vt == VT_I2) return result->iVal;
  EXPECT_EQ(result->vt, VT_I4) << method.c_str();
  return result->lVal;
}

LONG PcHallTest::AddGame(zv::HallHost& host, const std::wstring& id, int hallId, VARIANT target) {
  zv::ComPtr<IDispatch> object;
  VARIANT idValue = Text(id);
  EXPECT_EQ(host.MakeScriptObject({{L"id", idValue}, {L"hallid", Int(hallId)}}, object.put()), S_OK);
  ::VariantClear(&idValue);
  VARIANT param1;
  param1.vt = VT_DISPATCH;
  param1.pdispVal = object.detach();
  zv::UniqueVariant result;
  EXPECT_EQ(Call(host, L"ONZORVANADDGAME", param1, target, result.get()), S_OK);
  EXPECT_EQ(result->vt, VT_I2);
  return result->iVal;
}

bool PcHallTest::WaitStatus(zv::HallHost& host, const std::wstring& id,
                            const std::vector<std::pair<std::wstring, std::wstring>>& fields, DWORD timeoutMs) {
  return ShowSeenUnless(host.WaitForEvent(
      [&](const zv::HostEvent& event) {
        if (event.name != L"GameStatusChanged" || event.fields.count(L"p1") == 0 || event.fields.at(L"p1") != id) {
          return false;
        }
        for (const auto& [key, value] : fields) {
          const auto found = event.fields.find(key);
          if (found == event.fields.end() || found->second != value) return false;
        }
        return true;
      },
      timeoutMs, nullptr));
}

bool PcHallTest::WaitEvent(zv::HallHost& host, const std::wstring& name, const std::wstring& key,
                           const std::wstring& value, zv::HostEvent* found, DWORD timeoutMs) {
  return ShowSeenUnless(host.WaitForEvent(
      [&](const zv::HostEvent& event) {
        const auto field = event.fields.find(key);
        return event.name == name && field != event.fields.end() && field->second == value;
      },
      timeoutMs, found));
}

bool PcHallTest::ShowSeenUnless(bool waited) {
  if (waited) return true;
  std::lock_guard<std::mutex> guard(seenLock_);
  std::string seen;
  for (const SeenEvent& event : seen_) seen += zv::ToUtf8(event.event.text) + "\n";
  ADD_FAILURE() << "the awaited event did not come; the events so far:\n" << seen;
  return false;
}

std::vector<SeenEvent> PcHallTest::Seen(const std::wstring& name, const std::wstring& gameKey,
                                        const std::wstring& id) {
  std::lock_guard<std::mutex> guard(seenLock_);
  std::vector<SeenEvent> out;
  for (const SeenEvent& seen : seen_) {
    const auto field = seen.event.fields.find(gameKey);
    if (seen.event.name == name && field != seen.event.fields.end() && field->second == id) out.push_back(seen);
  }
  return out;
}

int PcHallTest::StateOf(zv::HallHost& host, const std::wstring& id) {
  zv::UniqueVariant result;
  if (Call(host, L"GETGAMESTATUS", Text(id), Missing(), result.get()) != S_OK || result->vt != VT_DISPATCH) {
    return -1;
  }
  zv::UniqueVariant state;
  LPOLESTR name = const_cast<LPOLESTR>(L"state");
  DISPID dispid = 0;
  DISPPARAMS none = {};
  if (FAILED(result->pdispVal->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid)) ||
      FAILED(result->pdispVal->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                      state.get(), nullptr, nullptr))) {
    return -1;
  }
  return state->vt == VT_I4 ? state->lVal : -1;
}

zv::IniFile PcHallTest::Config(const std::wstring& id) const { return zv::IniFile(GameFolder(id) + L"\\config.ini"); }

void PcHallTest::LeaveEarlierRun(const GameSpec& game, int state, int progress, bool withInfo) {
  const std::wstring id = Wide(game.id);
  zv::CreateFolderTree(GameFolder(id));
  if (withInfo) zvtest::WriteFileBytes(GameFolder(id) + L"\\game.xml", GameXml(game, server_));
  const zv::IniFile config = Config(id);
  config.WriteInt(L"config", L"state", state);
  config.WriteString(L"config", L"detail", GameFolder(id) + L"\\game.xml");
  config.WriteInt(L"download", L"progress", progress);
}

}  // namespace pchalltest
