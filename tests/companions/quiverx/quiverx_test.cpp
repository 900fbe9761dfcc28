// Quiverx.dll loaded by path: CDataX properties written by name, read through
// IDispatch and IDispatchEx, enumerated, and read by a real JScript engine.
#include <gtest/gtest.h>

#include <activscp.h>

#include <string>
#include <vector>

#include "common/hresult.h"
#include "containers/container_binding.h"
#include "test_support.h"

namespace {

using zv::ComPtr;
using zv::UniqueBstr;
using zv::UniqueVariant;

UniqueVariant Text(const wchar_t* text) {
  UniqueVariant value;
  value->vt = VT_BSTR;
  value->bstrVal = ::SysAllocString(text);
  return value;
}

UniqueVariant Integer(LONG number) {
  UniqueVariant value;
  value->vt = VT_I4;
  value->lVal = number;
  return value;
}

std::wstring TextOf(const VARIANT& value) {
  return value.vt == VT_BSTR ? std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal)) : L"<not text>";
}

DISPID DispIdOf(IDispatchEx* object, const wchar_t* name, DWORD flags) {
  UniqueBstr key(::SysAllocString(name));
  DISPID id = 12345;
  object->GetDispID(key.get(), flags, &id);
  return id;
}

std::vector<std::wstring> EnumeratedNames(IDispatchEx* object) {
  std::vector<std::wstring> names;
  DISPID id = DISPID_STARTENUM;
  while (object->GetNextDispID(fdexEnumAll, id, &id) == S_OK) {
    UniqueBstr name;
    EXPECT_EQ(S_OK, object->GetMemberName(id, name.put()));
    names.emplace_back(name.get(), ::SysStringLen(name.get()));
  }
  EXPECT_EQ(DISPID_UNKNOWN, id);
  return names;
}

class QuiverxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    object_ = zv::NewDataX();
    ASSERT_TRUE(object_) << "Quiverx.dll did not load from the program folder";
    ASSERT_EQ(S_OK, zv::PutProperty(object_.get(), L"gameid", *Text(L"123").get()));
    ASSERT_EQ(S_OK, zv::PutProperty(object_.get(), L"state", *Integer(6).get()));
    ASSERT_EQ(S_OK, zv::PutProperty(object_.get(), L"名称", *Text(L"仙境传说").get()));
    ASSERT_EQ(S_OK, zv::PutProperty(object_.get(), 0, *Text(L"first").get()));
  }
  void TearDown() override {
    object_.reset();
    ::CoUninitialize();
  }

  ComPtr<IDispatchEx> object_;
};

TEST_F(QuiverxTest, PropertiesReadThroughIDispatchByName) {
  UniqueVariant value;
  ASSERT_EQ(S_OK, zv::GetProperty(object_.get(), L"gameid", value.put()));
  EXPECT_EQ(L"123", TextOf(*value.get()));
  ASSERT_EQ(S_OK, zv::GetProperty(object_.get(), L"STATE", value.put()));  // IDispatch ignores case
  EXPECT_EQ(VT_I4, value->vt);
  EXPECT_EQ(6, value->lVal);
  ASSERT_EQ(S_OK, zv::GetProperty(object_.get(), L"名称", value.put()));
  EXPECT_EQ(L"仙境传说", TextOf(*value.get()));
  ASSERT_EQ(S_OK, zv::GetProperty(object_.get(), L"0", value.put()));
  EXPECT_EQ(L"first", TextOf(*value.get()));

  wchar_t missing[] = L"missing";
  LPOLESTR names[] = {missing};
  DISPID id = 12345;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  EXPECT_EQ(DISPID_UNKNOWN, id);

  VARIANT untouched;
  untouched.vt = VT_I2;
  untouched.iVal = 99;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, object_->Invoke(0x7FFF0000, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                                   &none, &untouched, nullptr, nullptr));
  EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, object_->Invoke(DispIdOf(object_.get(), L"state", 0), IID_IUnknown,
                                                     LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &untouched,
                                                     nullptr, nullptr));
  EXPECT_EQ(VT_I2, untouched.vt);
  EXPECT_EQ(99, untouched.iVal);
}

TEST_F(QuiverxTest, IDispatchExNamesAreCaseSensitiveAndCreatedOnlyOnWrite) {
  EXPECT_EQ(DISPID_UNKNOWN, DispIdOf(object_.get(), L"GAMEID", fdexNameCaseSensitive));
  EXPECT_EQ(DispIdOf(object_.get(), L"gameid", fdexNameCaseSensitive),
            DispIdOf(object_.get(), L"GAMEID", fdexNameCaseInsensitive));
  EXPECT_EQ(DISPID_UNKNOWN, DispIdOf(object_.get(), L"later", fdexNameCaseSensitive));
  EXPECT_EQ(4u, EnumeratedNames(object_.get()).size());

  const DISPID later = DispIdOf(object_.get(), L"later", fdexNameEnsure);
  ASSERT_NE(DISPID_UNKNOWN, later);
  VARIANT argument = *Integer(5).get();
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put = {&argument, &named, 1, 1};
  ASSERT_EQ(S_OK, object_->InvokeEx(later, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
  DISPPARAMS empty = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(DISP_E_BADPARAMCOUNT,
            object_->InvokeEx(later, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &empty, nullptr, nullptr, nullptr));
  UniqueVariant result;
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
            object_->InvokeEx(later, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &empty, result.put(), nullptr, nullptr));
  ASSERT_EQ(S_OK,
            object_->InvokeEx(later, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &empty, result.put(), nullptr, nullptr));
  EXPECT_EQ(5, result->lVal);
}

TEST_F(QuiverxTest, EnumerationFollowsTheWriteOrder) {
  ASSERT_EQ(S_OK, zv::PutProperty(object_.get(), L"state", *Integer(7).get()));  // rewriting keeps the place
  EXPECT_EQ((std::vector<std::wstring>{L"gameid", L"state", L"名称", L"0"}), EnumeratedNames(object_.get()));

  EXPECT_EQ(S_OK, object_->DeleteMemberByDispID(DispIdOf(object_.get(), L"state", 0)));
  UniqueBstr name(::SysAllocString(L"NONE"));
  EXPECT_EQ(S_FALSE, object_->DeleteMemberByName(name.get(), fdexNameCaseSensitive));
  EXPECT_EQ((std::vector<std::wstring>{L"gameid", L"名称", L"0"}), EnumeratedNames(object_.get()));

  DISPID next = 77;
  EXPECT_EQ(E_INVALIDARG, object_->GetNextDispID(fdexEnumAll, 0x7FFF0000, &next));
}

TEST_F(QuiverxTest, PropertyNameTableTurnsDispIdsIntoNames) {
  const DISPID id = DispIdOf(object_.get(), L"名称", fdexNameCaseSensitive);
  EXPECT_EQ(L"名称", zv::PropertyNameOf(id));
  EXPECT_EQ(L"", zv::PropertyNameOf(0x7FFF0000));

  // One DISPID per name across every object of the process.
  const ComPtr<IDispatchEx> other = zv::NewDataX();
  ASSERT_EQ(S_OK, zv::PutProperty(other.get(), L"名称", *Integer(1).get()));
  EXPECT_EQ(id, DispIdOf(other.get(), L"名称", fdexNameCaseSensitive));

  const ComPtr<IDispatchEx> table = zv::NewDataX(zv::kClsidPropertyNameTable);
  ASSERT_TRUE(table);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  UniqueVariant name;
  ASSERT_EQ(S_OK, table->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, name.put(), nullptr, nullptr));
  EXPECT_EQ(L"名称", TextOf(*name.get()));
}

TEST_F(QuiverxTest, ClassObjectAnswersOnlyItsClasses) {
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto getClassObject =
      reinterpret_cast<GetClassObject>(::GetProcAddress(::GetModuleHandleW(L"Quiverx.dll"), "DllGetClassObject"));
  ASSERT_TRUE(getClassObject);
  void* sentinel = reinterpret_cast<void*>(0x42);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(zv::kClsidQuiverContainer, IID_IClassFactory, &sentinel));
  EXPECT_EQ(nullptr, sentinel);
}

// ---- A real script engine reading the object ----

// Hands the object to the engine as the named item "data"; records errors.
class ScriptSite final : public IActiveScriptSite {
 public:
  explicit ScriptSite(IDispatch* object) : object_(object) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == __uuidof(IActiveScriptSite)) {
      *out = static_cast<IActiveScriptSite*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
    if (info) *info = nullptr;
    if (wcscmp(name, L"data") != 0 || !(mask & SCRIPTINFO_IUNKNOWN) || !item) return TYPE_E_ELEMENTNOTFOUND;
    *item = object_;
    object_->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
  STDMETHODIMP OnScriptError(IActiveScriptError*) override {
    ++errors_;
    return S_OK;
  }
  STDMETHODIMP OnEnterScript() override { return S_OK; }
  STDMETHODIMP OnLeaveScript() override { return S_OK; }

  int errors() const { return errors_; }

 private:
  IDispatch* object_;
  int errors_ = 0;
};

HRESULT EvaluateJScript(IDispatch* object, const wchar_t* expression, VARIANT* result, int* errors) {
  CLSID jscript;
  RETURN_IF_FAILED(::CLSIDFromProgID(L"JScript", &jscript));
  ComPtr<IActiveScript> engine;
  RETURN_IF_FAILED(::CoCreateInstance(jscript, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                                      engine.put_void()));
  ComPtr<IActiveScriptParse> parser;
  RETURN_IF_FAILED(engine.As(&parser));
  ScriptSite site(object);
  RETURN_IF_FAILED(engine->SetScriptSite(&site));
  RETURN_IF_FAILED(parser->InitNew());
  RETURN_IF_FAILED(engine->AddNamedItem(L"data", SCRIPTITEM_ISVISIBLE));
  RETURN_IF_FAILED(engine->SetScriptState(SCRIPTSTATE_STARTED));
  const HRESULT hr =
      parser->ParseScriptText(expression, nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISEXPRESSION, result, nullptr);
  *errors = site.errors();
  engine->Close();
  return hr;
}

TEST_F(QuiverxTest, JScriptReadsThePropertiesByName) {
  UniqueVariant result;
  int errors = 0;
  ASSERT_EQ(S_OK, EvaluateJScript(object_.get(), L"data.gameid + '|' + data.state + '|' + data['名称'] + '|' + data[0]",
                                  result.put(), &errors));
  EXPECT_EQ(0, errors);
  EXPECT_EQ(L"123|6|仙境传说|first", TextOf(*result.get()));
}

TEST_F(QuiverxTest, JScriptEnumeratesTheProperties) {
  UniqueVariant result;
  int errors = 0;
  ASSERT_EQ(S_OK, EvaluateJScript(object_.get(),
                                  L"(function () { var s = ''; for (var k in data) s += k + ','; return s; })()",
                                  result.put(), &errors));
  EXPECT_EQ(0, errors);
  EXPECT_EQ(L"gameid,state,名称,0,", TextOf(*result.get()));
}

}  // namespace
