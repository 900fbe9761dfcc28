// Both hall DLLs as COM servers, loaded by path as the host loads them:
// type library identities, QueryInterface tables, aggregation, unloading,
// IDispatch by name without registration, and regsvr32 registration.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "Lanternis_h.h"
#include "Ostrelle_h.h"
#include "common/handles.h"
#include "common/locations.h"
#include "common/settings.h"
#include "frame/com/pipewell_event.h"
#include "hall_dll.h"
#include "test_support.h"
#include "web_hall/lanternis_core.h"

namespace {

// A sentinel that a refused query must overwrite with null.
void* const kSentinel = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5A5A5A5A));

struct HallCase {
  const wchar_t* dll;
  const CLSID* classId;
  const GUID* libraryId;
  const IID* commandIid;  // the command interface's entry in the type library
  const IID* eventIid;
  std::vector<const IID*> answered;
  std::vector<const IID*> refused;
  const wchar_t* progId;
  const wchar_t* classKey;
  const wchar_t* appIdKey;
  const wchar_t* appName;
  const wchar_t* libraryKey;
};

std::vector<HallCase> HallCases() {
  return {
      {L"Ostrelle.dll", &CLSID_PCGameLogic, &LIBID_OstrelleLib, &IID_IPCGameLogic, &DIID__IPCGameLogicEvents,
       {&IID_IPCGameLogic, &IID_IDispatch, &IID_IProvideClassInfo, &IID_IProvideClassInfo2,
        &IID_IConnectionPointContainer},
       {&__uuidof(IPipewellEvent), &IID_IConnectionPoint, &IID_IClassFactory, &DIID__IPCGameLogicEvents,
        &IID_IPersist},
       L"Ostrelle.PCGameLogic", L"CLSID\\{5DE1DD06-F76B-4081-B0DD-56219A487050}",
       L"AppID\\{45FEF0B3-7BB8-4D46-A50A-FAB6D9503E84}", L"Ostrelle",
       L"TypeLib\\{D009AD48-D247-4FE4-AC4E-C29FAB222992}"},
      {L"Lanternis.dll", &CLSID_LanternisLogic, &LIBID_LanternisLib, &IID_ILanternisLogic, &DIID__ILanternisEvents,
       {&IID_IDispatch, &IID_IConnectionPointContainer, &__uuidof(IPipewellEvent), &kLanternisLogicObjectIid,
        &IID_IProvideClassInfo, &IID_IProvideClassInfo2},
       {&IID_ILanternisLogic, &IID_IConnectionPoint, &IID_IClassFactory, &DIID__ILanternisEvents, &IID_IPersist},
       L"Lanternis.LanternisLogic", L"CLSID\\{5E5A8656-DCD7-43CB-A6F2-29CC1BB1738D}",
       L"AppID\\{955B027B-FA2D-4A66-A515-9E16FB2F2FB2}", L"Lanternis",
       L"TypeLib\\{EB2AA30B-D581-4AEB-938D-063994B8F9B0}"},
  };
}

// An outer object that aggregates a hall and counts its own references.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (::IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }

  LONG references = 1;
  IUnknown* inner = nullptr;
};

std::wstring ReadDefault(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t value[1024] = {};
  DWORD bytes = sizeof(value) - sizeof(wchar_t);
  if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  zv::UniqueHKey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::wstring& path, const wchar_t* name) {
  return ::RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

class HallServer : public ::testing::TestWithParam<HallCase> {
 protected:
  void SetUp() override {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_TRUE(dll_.Loaded()) << "cannot load " << ::testing::PrintToString(std::wstring(GetParam().dll));
  }
  void TearDown() override { ::CoUninitialize(); }

  zv::ComPtr<IUnknown> CreateHall() {
    zv::ComPtr<IUnknown> hall;
    EXPECT_EQ(dll_.Create(*GetParam().classId, IID_IUnknown, hall.put_void()), S_OK);
    return hall;
  }

  zvtest::HallDll dll_{GetParam().dll};
};

TEST_P(HallServer, TypeLibraryCarriesTheIdentities) {
  const HallCase& hall = GetParam();
  zv::ComPtr<ITypeLib> library;
  ASSERT_EQ(::LoadTypeLibEx(dll_.Path().c_str(), REGKIND_NONE, library.put()), S_OK);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(::IsEqualGUID(attributes->guid, *hall.libraryId));
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, 0x409u);
  library->ReleaseTLibAttr(attributes);

  struct Member {
    const IID* owner;
    const wchar_t* name;
    MEMBERID id;
  };
  for (const Member& member : {Member{hall.commandIid, L"call", 1}, Member{hall.eventIid, L"Notify", 1}}) {
    zv::ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(*member.owner, info.put()), S_OK);
    LPOLESTR names[] = {const_cast<LPOLESTR>(member.name)};
    MEMBERID id = -1;
    EXPECT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, member.id);
  }
  zv::ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(library->GetTypeInfoOfGuid(*hall.classId, coclass.put()), S_OK);
  TYPEATTR* typeAttributes = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&typeAttributes), S_OK);
  EXPECT_EQ(typeAttributes->typekind, TKIND_COCLASS);
  coclass->ReleaseTypeAttr(typeAttributes);
}

TEST_P(HallServer, QueryInterfaceAnswersExactlyItsTable) {
  zv::ComPtr<IUnknown> hall = CreateHall();
  ASSERT_TRUE(hall);
  for (const IID* iid : GetParam().answered) {
    zv::ComPtr<IUnknown> answer;
    EXPECT_EQ(hall->QueryInterface(*iid, answer.put_void()), S_OK);
    zv::ComPtr<IUnknown> identity;
    ASSERT_EQ(answer->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
    EXPECT_EQ(identity.get(), hall.get());
  }
  for (const IID* iid : GetParam().refused) {
    void* answer = kSentinel;
    EXPECT_EQ(hall->QueryInterface(*iid, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
  }
  zv::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(hall->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  const IID& commandIid = GetParam().answered[0] == &IID_IDispatch ? kLanternisLogicObjectIid : IID_IPCGameLogic;
  zv::ComPtr<IUnknown> command;
  ASSERT_EQ(hall->QueryInterface(commandIid, command.put_void()), S_OK);
  EXPECT_EQ(static_cast<void*>(command.get()), static_cast<void*>(dispatch.get())) << "IDispatch is the command interface";
}

TEST_P(HallServer, FactoryRulesAndAggregationOnlyForIUnknown) {
  zv::ComPtr<IClassFactory> factory;
  void* unknownClass = kSentinel;
  EXPECT_EQ(dll_.GetFactory(CLSID_NULL, reinterpret_cast<IClassFactory**>(&unknownClass)), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(unknownClass, nullptr);
  ASSERT_EQ(dll_.GetFactory(*GetParam().classId, factory.put()), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

  Outer outer;
  void* refused = kSentinel;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &refused), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(refused, nullptr);

  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  EXPECT_EQ(outer.references, 1) << "the inner unknown does not hold the outer object";
  {
    zv::ComPtr<IDispatch> dispatch;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
    EXPECT_EQ(outer.references, 2) << "interfaces of an aggregated hall count on the outer object";
    zv::ComPtr<IUnknown> identity;
    ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
  }
  EXPECT_EQ(outer.references, 1);
  EXPECT_EQ(dll_.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(dll_.CanUnloadNow(), S_OK);
}

TEST_P(HallServer, CanUnloadOnlyAfterTheLastObjectAndLock) {
  EXPECT_EQ(dll_.CanUnloadNow(), S_OK);
  zv::ComPtr<IUnknown> first = CreateHall();
  zv::ComPtr<IUnknown> second = CreateHall();
  EXPECT_EQ(dll_.CanUnloadNow(), S_FALSE);
  first.reset();
  EXPECT_EQ(dll_.CanUnloadNow(), S_FALSE);
  second.reset();
  EXPECT_EQ(dll_.CanUnloadNow(), S_OK);

  zv::ComPtr<IClassFactory> factory;
  ASSERT_EQ(dll_.GetFactory(*GetParam().classId, factory.put()), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(dll_.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(dll_.CanUnloadNow(), S_OK);
}

TEST_P(HallServer, CallsByNameWithoutRegistration) {
  zv::ComPtr<IUnknown> hall = CreateHall();
  ASSERT_TRUE(hall);
  zv::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(hall->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);

  UINT count = 7;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  void* noInfo = kSentinel;
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, reinterpret_cast<ITypeInfo**>(&noInfo)), DISP_E_BADINDEX);
  EXPECT_EQ(noInfo, nullptr);

  LPOLESTR names[] = {const_cast<LPOLESTR>(L"CALL")};
  DISPID id = -1;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 1);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"nosuch")};
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

  // call("init") with both optional parameters left out.
  zv::UniqueVariant method;
  method->vt = VT_BSTR;
  method->bstrVal = ::SysAllocString(L"init");
  DISPPARAMS parameters = {method.get(), nullptr, 1, 0};
  zv::UniqueVariant result;
  result->vt = VT_I4;
  result->lVal = 99;
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, result.get(), nullptr,
                             nullptr),
            S_OK);
  EXPECT_EQ(result->vt, VT_EMPTY);

  zv::ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(hall->QueryInterface(IID_IProvideClassInfo2, classInfo.put_void()), S_OK);
  GUID source = GUID_NULL;
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(::IsEqualGUID(source, *GetParam().eventIid));
  zv::ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(coclass.put()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(::IsEqualGUID(attributes->guid, *GetParam().classId));
  coclass->ReleaseTypeAttr(attributes);
}

// regsvr32 /n /i:user goes through DllInstall(TRUE, "user") and writes below
// HKEY_CURRENT_USER\Software\Classes only; /u removes it again.
TEST_P(HallServer, RegsvrRegistersPerUserAndRemoves) {
  const HallCase& hall = GetParam();
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring quoted = L" \"" + dll_.Path() + L"\"";
  const zvtest::ProcessResult registered = zvtest::RunProcess(L"regsvr32.exe /s /n /i:user" + quoted);
  ASSERT_TRUE(registered.finished);
  ASSERT_EQ(registered.exitCode, 0u) << registered.output;

  const std::wstring progId = hall.progId;
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + progId + L"\\CurVer"), progId + L".1");
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + progId + L".1\\CLSID"), hall.classKey + 6);
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + hall.classKey + L"\\InprocServer32"), dll_.Path());
  EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, classes + hall.classKey + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, classes + hall.classKey + L"\\Programmable"));
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + hall.classKey + L"\\VersionIndependentProgID"), progId);
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + hall.appIdKey), hall.appName);
  EXPECT_EQ(ReadDefault(HKEY_CURRENT_USER, classes + L"AppID\\" + hall.appName + L".DLL", L"AppID"),
            hall.appIdKey + 6);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, classes + hall.libraryKey + L"\\1.0\\409"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + progId)) << "nothing machine-wide";

  const zvtest::ProcessResult removed = zvtest::RunProcess(L"regsvr32.exe /s /u /n /i:user" + quoted);
  ASSERT_TRUE(removed.finished);
  EXPECT_EQ(removed.exitCode, 0u) << removed.output;
  for (const std::wstring& key : {progId, progId + L".1", std::wstring(hall.classKey), std::wstring(hall.appIdKey),
                                  L"AppID\\" + std::wstring(hall.appName) + L".DLL", std::wstring(hall.libraryKey)}) {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, classes + key)) << ::testing::PrintToString(key);
  }
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, classes + L"AppID")) << "the shared AppID key stays";

  const zvtest::ProcessResult again = zvtest::RunProcess(L"regsvr32.exe /s /u /n /i:user" + quoted);
  EXPECT_EQ(again.exitCode, 0u) << "unregistering twice is not an error";
}

INSTANTIATE_TEST_SUITE_P(BothHalls, HallServer, ::testing::ValuesIn(HallCases()),
                         [](const ::testing::TestParamInfo<HallCase>& info) {
                           return info.index == 0 ? std::string("Ostrelle") : std::string("Lanternis");
                         });

// Scripts create the PC hall by its ProgID. Wine's class lookup does not read
// per-user classes, so the hall is registered machine-wide for the run and
// the registration removed at the end. Wine's cscript exits 0 on an uncaught
// error: every script catches and ends with WScript.Quit.
class HallScript : public ::testing::Test {
 protected:
  zvtest::ProcessResult RunWithRegisteredHall(const std::wstring& cscript, const std::string& script) {
    const std::wstring file = temp_ / L"script.js";
    EXPECT_TRUE(zvtest::WriteFileBytes(file, script));
    const std::wstring dll = zvtest::ProgramFolder() + L"\\Ostrelle.dll";
    const zvtest::ProcessResult registered = zvtest::RunProcess(L"regsvr32.exe /s \"" + dll + L"\"");
    EXPECT_EQ(registered.exitCode, 0u) << registered.output;
    const zvtest::ProcessResult run = zvtest::RunProcess(L"\"" + cscript + L"\" //nologo \"" + file + L"\"", 60000);
    const zvtest::ProcessResult removed = zvtest::RunProcess(L"regsvr32.exe /s /u \"" + dll + L"\"");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(removed.exitCode, 0u) << removed.output;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ostrelle.PCGameLogic"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{5DE1DD06-F76B-4081-B0DD-56219A487050}"));
    return run;
  }

  zvtest::TempFolder temp_{L"script"};
};

TEST_F(HallScript, CscriptCreatesThePcHallByProgIdAndCallsByName) {
  const zvtest::ProcessResult run = RunWithRegisteredHall(L"cscript.exe", R"(
var code = 1;
try {
  var hall = new ActiveXObject("Ostrelle.PCGameLogic");
  var versioned = new ActiveXObject("Ostrelle.PCGameLogic.1");
  var a = hall.call("init");
  var b = hall.call("Init", 1, "x");
  var c = hall.call("nosuch");
  var d = versioned.callfrom("INIT", "script");
  code = (typeof a == "undefined" && typeof b == "undefined" &&
          typeof c == "undefined" && typeof d == "undefined") ? 0 : 2;
} catch (e) {
  WScript.Echo("error " + e.message);
  code = 3;
}
WScript.Quit(code);
)");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
}

// A game added from script with a script object, its status and information
// read back property by property. Its game.xml and config.ini are in place
// as an earlier run left them, so no server is needed. The script host has
// no Quiver.dll beside it: the hall finds the one beside itself.
TEST_F(HallScript, ScriptAddsAGameAndReadsItsStatusAndInformation) {
  const std::wstring gameFolder = zv::ProductFolder() + L"\\7801";
  struct RemovedAtEnd {
    std::wstring path;
    ~RemovedAtEnd() { zvtest::RemoveTree(path); }
  } removeGame{gameFolder};
  zvtest::RemoveTree(gameFolder);
  ASSERT_HRESULT_SUCCEEDED(zv::CreateFolderTree(gameFolder));
  ASSERT_TRUE(zvtest::WriteFileBytes(gameFolder + L"\\game.xml",
                                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<game7801 name=\"\xE8\x8B\xB1\xE9\x9B\x84 Hero\">\n"
                                     "  <clients>\n"
                                     "    <MD5-0123456789abcdef0123456789abcdef>\n"
                                     "      <fileUrl>ZVURL1EkDu2FEdW8s=</fileUrl>\n"
                                     "      <startupFile>bin\\hero.exe</startupFile>\n"
                                     "    </MD5-0123456789abcdef0123456789abcdef>\n"
                                     "  </clients>\n"
                                     "</game7801>\n"));
  const zv::IniFile config(gameFolder + L"\\config.ini");
  ASSERT_HRESULT_SUCCEEDED(config.WriteInt(L"config", L"state", 3));
  ASSERT_HRESULT_SUCCEEDED(config.WriteInt(L"download", L"progress", 40));

  const zvtest::ProcessResult run = RunWithRegisteredHall(L"cscript.exe", R"(
var failures = [];
function check(what, actual, expected) {
  if (actual !== expected) failures.push(what + ": " + actual + " instead of " + expected);
}
try {
  var hall = new ActiveXObject("Ostrelle.PCGameLogic");
  check("added", hall.call("ONZORVANADDGAME", {id: "7801", hallid: 1000001}), -1);
  check("added again by number", hall.call("ONZORVANADDGAME", {id: 7801, hallid: 1000001}), 0);

  var status = hall.call("GETGAMESTATUS", "7801");
  check("state", status.state, 3);
  check("downloadstate", status.downloadstate, 0);
  check("setupstate", status.setupstate, 0);
  check("downloadprogress", status.downloadprogress, 40);
  check("gamename", status.gamename, "\u82F1\u96C4 Hero");

  var info = hall.call("GETGAMEINFO", "7801");
  check("information name", info["game7801@"].name, "\u82F1\u96C4 Hero");
  check("start file", info.game7801.clients["MD5-0123456789abcdef0123456789abcdef"].startupFile, "bin\\hero.exe");

  check("unknown game's status", typeof hall.call("GETGAMESTATUS", "7899"), "undefined");
} catch (e) {
  failures.push("error " + e.message);
}
if (failures.length) WScript.Echo(failures.join("\n"));
WScript.Quit(failures.length);
)");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
}

}  // namespace
