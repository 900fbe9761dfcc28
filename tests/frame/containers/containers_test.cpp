// The hall-side binding with both libraries beside the program: Quiver's use
// count, the container helpers, LoadFile's error codes and ToScriptObject.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "containers/container_binding.h"
#include "test_support.h"

namespace {

using zv::ComPtr;
using zv::Get;
using zv::UniqueVariant;

bool QuiverLoaded() { return ::GetModuleHandleW(L"Quiver.dll") != nullptr; }

// Runs first: nothing has loaded Quiver yet.
TEST(QuiverLibrary, IsCountedPerUserAndFreedOnlyWhenNoObjectLives) {
  EXPECT_FALSE(zv::NewContainer());
  zv::UnloadQuiver();  // nothing loaded: nothing happens

  zv::LoadQuiver();
  zv::LoadQuiver();
  ComPtr<IQuiverItem> container = zv::NewContainer();
  ASSERT_TRUE(container);
  zv::UnloadQuiver();
  EXPECT_TRUE(zv::NewContainer());

  zv::UnloadQuiver();  // last user, but a container is alive: the library stays
  EXPECT_TRUE(QuiverLoaded());
  EXPECT_EQ(S_OK, zv::SetInt(Get(container.get(), "CmdID").get(), 10001));
  zv::UnloadQuiver();  // no user left to subtract

  zv::LoadQuiver();
  container.reset();
  zv::UnloadQuiver();
  EXPECT_FALSE(QuiverLoaded());
  EXPECT_FALSE(zv::NewContainer());
}

class BindingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zv::LoadQuiver(); }
  static void TearDownTestSuite() { zv::UnloadQuiver(); }

  static ComPtr<IQuiverItem> NewContainer() {
    ComPtr<IQuiverItem> container = zv::NewContainer();
    EXPECT_TRUE(container);
    return container;
  }
};

TEST_F(BindingTest, InterProcessRecordTravelsAsBytes) {
  const ComPtr<IQuiverItem> message = NewContainer();
  ASSERT_EQ(S_OK, zv::SetInt(Get(message.get(), "CmdID").get(), 10004));
  ASSERT_EQ(S_OK, zv::SetUInt(Get(message.get(), "ProcessID").get(), 4000000000u));
  ASSERT_EQ(S_OK, zv::SetString(Get(message.get(), "GameID").get(), std::string("123")));
  ASSERT_EQ(S_OK, zv::SetString(Get(message.get(), "Title").get(), std::wstring(L"网页游戏")));
  ASSERT_EQ(S_OK, message->SetSerializeMode(zv::kSerializeBinary));
  const std::string bytes = zv::Serialize(message.get());
  ASSERT_FALSE(bytes.empty());

  const ComPtr<IQuiverItem> received = NewContainer();
  ASSERT_TRUE(zv::Load(received.get(), bytes.data(), bytes.size()));
  EXPECT_EQ(10004, zv::GetInt(Get(received.get(), "CmdID").get()));
  EXPECT_EQ(static_cast<int32_t>(4000000000u), zv::GetInt(Get(received.get(), "ProcessID").get()));
  EXPECT_EQ("123", zv::GetStringA(Get(received.get(), "GameID").get()));
  EXPECT_EQ(L"网页游戏", zv::GetString(Get(received.get(), "Title").get()));

  EXPECT_FALSE(zv::Load(received.get(), bytes.data(), bytes.size() - 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ::GetLastError());
  EXPECT_EQ(10004, zv::GetInt(Get(received.get(), "CmdID").get()));
}

TEST_F(BindingTest, HelpersAnswerEmptyForMissingItems) {
  EXPECT_FALSE(Get(nullptr, "x"));
  EXPECT_EQ(0, zv::GetInt(nullptr));
  EXPECT_EQ(L"", zv::GetString(nullptr));
  EXPECT_EQ(E_POINTER, zv::SetInt(nullptr, 1));
  EXPECT_TRUE(zv::Serialize(nullptr).empty());
  EXPECT_FALSE(zv::Load(nullptr, "x", 1));
  const UniqueVariant converted = zv::ToScriptObject(nullptr);
  EXPECT_EQ(VT_EMPTY, converted->vt);

  const ComPtr<IQuiverItem> root = NewContainer();
  const ComPtr<IQuiverItem> name = Get(Get(root.get(), "game5@").get(), "name");
  EXPECT_EQ(L"", zv::GetString(name.get()));
  EXPECT_EQ(zv::kItemEmpty, zv::Kind(name.get()));
}

// ---- LoadFile ----

class LoadFileTest : public BindingTest {
 protected:
  std::wstring WriteFile(const std::string& bytes) {
    const std::wstring path = temp_ / L"game.xml";
    EXPECT_TRUE(zvtest::WriteFileBytes(path, bytes));
    return path;
  }

  static DWORD LoadFrom(const std::wstring& path, const wchar_t* mode) {
    const ComPtr<IQuiverItem> container = NewContainer();
    container->SetSerializeMode(zv::kSerializeXml);
    container->SetLoadOption(zv::kLoadOptionAttributeRecords, TRUE);
    FILE* file = _wfopen(path.c_str(), mode);
    const DWORD result = zv::LoadFile(container.get(), file);
    if (file) fclose(file);
    return result;
  }

  zvtest::TempFolder temp_{L"loadfile"};
};

TEST_F(LoadFileTest, ReportsEachFailureWithItsCode) {
  EXPECT_EQ(zv::kContainerNothingToLoad, zv::LoadFile(NewContainer().get(), nullptr));
  EXPECT_EQ(zv::kContainerNothingToLoad, LoadFrom(WriteFile(""), L"rb"));
  // A text-mode stream turns "\r\n" into "\n" and reads fewer bytes than the file has.
  EXPECT_EQ(zv::kContainerShortRead, LoadFrom(WriteFile("<a>\r\n</a>\r\n"), L"rt"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), LoadFrom(WriteFile("<a><b></a>"), L"rb"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), LoadFrom(WriteFile("<!DOCTYPE a><a/>"), L"rb"));
  EXPECT_EQ(0u, LoadFrom(WriteFile("<game1 name='x'/>"), L"rb"));
}

TEST_F(LoadFileTest, RefusesAFileTooLargeToHold) {
  const std::wstring path = temp_ / L"huge.xml";
  {
    zv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER size;
    size.QuadPart = 300ll << 20;
    ASSERT_TRUE(::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file.get()));
  }
  EXPECT_EQ(zv::kContainerNoMemory, LoadFrom(path, L"rb"));
}

// ---- ToScriptObject ----

UniqueVariant Property(const VARIANT& object, const wchar_t* name) {
  UniqueVariant value;
  if (object.vt == VT_DISPATCH && object.pdispVal) zv::GetProperty(object.pdispVal, name, value.put());
  return value;
}

std::vector<std::wstring> PropertyNames(const VARIANT& object) {
  std::vector<std::wstring> names;
  ComPtr<IDispatchEx> dispatch;
  if (object.vt != VT_DISPATCH || !object.pdispVal ||
      FAILED(object.pdispVal->QueryInterface(__uuidof(IDispatchEx), dispatch.put_void()))) {
    return names;
  }
  DISPID id = DISPID_STARTENUM;
  while (dispatch->GetNextDispID(fdexEnumAll, id, &id) == S_OK) names.push_back(zv::PropertyNameOf(id));
  return names;
}

std::wstring TextOf(const VARIANT& value) {
  return value.vt == VT_BSTR ? std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal)) : L"<not text>";
}

TEST_F(BindingTest, ScriptObjectOfRecordsAndListsSkipsEmptyItems) {
  const ComPtr<IQuiverItem> root = NewContainer();
  zv::SetString(Get(root.get(), "name").get(), std::wstring(L"仙境传说"));
  zv::SetUInt(Get(root.get(), "size").get(), 4294967295u);
  Get(root.get(), "looked-up");
  const ComPtr<IQuiverItem> parts = Get(root.get(), "parts");
  ComPtr<IQuiverItem> element;
  parts->AppendChild(element.put());
  zv::SetString(element.get(), std::wstring(L"a"));
  parts->AppendChild(element.put());  // stays empty
  parts->AppendChild(element.put());
  zv::SetString(Get(element.get(), "fileUrl").get(), std::wstring(L"u"));

  const UniqueVariant object = zv::ToScriptObject(root.get());
  ASSERT_EQ(VT_DISPATCH, object->vt);
  EXPECT_EQ((std::vector<std::wstring>{L"name", L"size", L"parts"}), PropertyNames(*object.get()));
  EXPECT_EQ(L"仙境传说", TextOf(*Property(*object.get(), L"name").get()));
  const UniqueVariant size = Property(*object.get(), L"size");
  EXPECT_EQ(VT_I4, size->vt);
  EXPECT_EQ(-1, size->lVal);

  const UniqueVariant list = Property(*object.get(), L"parts");
  EXPECT_EQ((std::vector<std::wstring>{L"0", L"1"}), PropertyNames(*list.get()));
  EXPECT_EQ(L"a", TextOf(*Property(*list.get(), L"0").get()));
  EXPECT_EQ(L"u", TextOf(*Property(*Property(*list.get(), L"1").get(), L"fileUrl").get()));
}

TEST_F(BindingTest, ScriptObjectStopsAtDepthFive) {
  const ComPtr<IQuiverItem> root = NewContainer();
  ComPtr<IQuiverItem> item = root;
  for (const char* name : {"a", "b", "c", "d"}) item = Get(item.get(), name);
  zv::SetString(Get(item.get(), "e").get(), std::wstring(L"too deep"));

  UniqueVariant level = zv::ToScriptObject(root.get());
  for (const wchar_t* name : {L"a", L"b", L"c", L"d"}) {
    SCOPED_TRACE(name);
    level = Property(*level.get(), name);
    ASSERT_EQ(VT_DISPATCH, level->vt);
    ASSERT_TRUE(level->pdispVal);
  }
  const UniqueVariant cut = Property(*level.get(), L"e");
  EXPECT_EQ(VT_DISPATCH, cut->vt);
  EXPECT_EQ(nullptr, cut->pdispVal);
}

TEST_F(BindingTest, ScriptObjectOfValuesAndEmptyItems) {
  const ComPtr<IQuiverItem> item = NewContainer();
  EXPECT_EQ(VT_EMPTY, zv::ToScriptObject(item.get())->vt);
  zv::SetString(item.get(), std::wstring(L"text"));
  EXPECT_EQ(L"text", TextOf(*zv::ToScriptObject(item.get()).get()));
  zv::SetInt(item.get(), -5);
  const UniqueVariant number = zv::ToScriptObject(item.get());
  EXPECT_EQ(VT_I4, number->vt);
  EXPECT_EQ(-5, number->lVal);
}

}  // namespace
