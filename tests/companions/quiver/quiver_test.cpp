// Quiver.dll loaded by path as the halls load it: the item tree, the binary
// round trip, the XML game information files and hostile input.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/locations.h"
#include "containers/container_binding.h"
#include "test_support.h"

namespace {

using zv::ComPtr;
using zv::Get;
using zv::GetString;

const HRESULT kWrongKind = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

// The whole tree as text: kinds, names, values and order.
std::wstring Dump(IQuiverItem* item) {
  switch (zv::Kind(item)) {
    case zv::kItemText:
      return L"'" + GetString(item) + L"'";
    case zv::kItemInteger: {
      LONGLONG value = 0;
      item->GetInt64(&value);
      return std::to_wstring(value);
    }
    case zv::kItemList:
    case zv::kItemRecord: {
      const bool record = zv::Kind(item) == zv::kItemRecord;
      std::wstring out = record ? L"{" : L"[";
      for (LONG i = 0; i < zv::Count(item); ++i) {
        std::wstring name;
        const ComPtr<IQuiverItem> child = zv::ChildAt(item, i, &name);
        if (record) out += name + L":";
        out += Dump(child.get()) + L",";
      }
      return out + (record ? L"}" : L"]");
    }
    default:
      return L"-";
  }
}

class QuiverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zv::LoadQuiver(); }

  static ComPtr<IQuiverItem> NewContainer() {
    ComPtr<IQuiverItem> container = zv::NewContainer();
    EXPECT_TRUE(container) << "Quiver.dll did not load from the program folder";
    return container;
  }

  // A container in mode 1 with attribute records, as the PC hall prepares it.
  static ComPtr<IQuiverItem> NewXmlContainer() {
    ComPtr<IQuiverItem> container = NewContainer();
    EXPECT_EQ(S_OK, container->SetSerializeMode(zv::kSerializeXml));
    EXPECT_EQ(S_OK, container->SetLoadOption(zv::kLoadOptionAttributeRecords, TRUE));
    return container;
  }

  static ComPtr<IQuiverItem> LoadXml(const std::string& xml) {
    ComPtr<IQuiverItem> container = NewXmlContainer();
    EXPECT_TRUE(zv::Load(container.get(), xml.data(), xml.size())) << "last error " << ::GetLastError();
    return container;
  }
};

HRESULT SetVariant(IQuiverItem* item, VARTYPE type, LONGLONG bits) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = type;
  value.llVal = bits;
  return item->SetValue(&value);
}

// ---- Items ----------------------------------------------------------------

TEST_F(QuiverTest, LookupAddsAnEmptyChildThatASetStores) {
  const ComPtr<IQuiverItem> root = NewContainer();
  EXPECT_EQ(zv::kItemEmpty, zv::Kind(root.get()));
  const ComPtr<IQuiverItem> fresh = Get(root.get(), "CmdID");
  ASSERT_TRUE(fresh);
  EXPECT_EQ(zv::kItemEmpty, zv::Kind(fresh.get()));
  EXPECT_EQ(zv::kItemRecord, zv::Kind(root.get()));
  ASSERT_EQ(S_OK, zv::SetInt(fresh.get(), 10004));
  EXPECT_EQ(10004, zv::GetInt(Get(root.get(), "CmdID").get()));
  ASSERT_EQ(S_OK, zv::SetInt(Get(root.get(), "CmdID").get(), 10009));  // an existing key is overwritten
  EXPECT_EQ(10009, zv::GetInt(Get(root.get(), "CmdID").get()));
  EXPECT_EQ(1, zv::Count(root.get()));
}

TEST_F(QuiverTest, ValuesHaveNoNamedChildrenAndListsNoNames) {
  const ComPtr<IQuiverItem> root = NewContainer();
  const ComPtr<IQuiverItem> text = Get(root.get(), "text");
  zv::SetString(text.get(), std::wstring(L"value"));
  VARIANT child;
  child.vt = VT_I4;
  child.lVal = 77;
  EXPECT_EQ(kWrongKind, text->GetChildByName("inner", &child));
  EXPECT_EQ(VT_I4, child.vt);
  EXPECT_EQ(77, child.lVal);
  EXPECT_FALSE(Get(text.get(), "inner"));
  EXPECT_EQ(L"value", GetString(text.get()));

  const ComPtr<IQuiverItem> list = Get(root.get(), "list");
  ComPtr<IQuiverItem> element;
  ASSERT_EQ(S_OK, list->AppendChild(element.put()));
  EXPECT_EQ(zv::kItemList, zv::Kind(list.get()));
  EXPECT_FALSE(Get(list.get(), "name"));
  EXPECT_EQ(kWrongKind, root->AppendChild(element.put()));
}

TEST_F(QuiverTest, SetValueAcceptsIntegersAndTextOnly) {
  const ComPtr<IQuiverItem> item = NewContainer();
  ASSERT_EQ(S_OK, zv::SetString(item.get(), std::wstring(L"before")));
  EXPECT_EQ(DISP_E_TYPEMISMATCH, SetVariant(item.get(), VT_R8, 0));
  EXPECT_EQ(DISP_E_TYPEMISMATCH, SetVariant(item.get(), VT_DISPATCH, 0));
  EXPECT_EQ(DISP_E_OVERFLOW, SetVariant(item.get(), VT_UI8, -1));
  EXPECT_EQ(L"before", GetString(item.get()));

  ASSERT_EQ(S_OK, zv::SetUInt(item.get(), 4294967295u));
  LONGLONG value = 0;
  item->GetInt64(&value);
  EXPECT_EQ(4294967295ll, value);
  EXPECT_EQ(-1, zv::GetInt(item.get()));  // the low 32 bits
  ASSERT_EQ(S_OK, SetVariant(item.get(), VT_BOOL, VARIANT_TRUE));
  EXPECT_EQ(-1, zv::GetInt(item.get()));
  ASSERT_EQ(S_OK, zv::SetString(item.get(), std::string("-42")));
  EXPECT_EQ(-42, zv::GetInt(item.get()));
  ASSERT_EQ(S_OK, zv::SetString(item.get(), std::string("12x")));
  EXPECT_EQ(0, zv::GetInt(item.get()));
  ASSERT_EQ(S_OK, SetVariant(item.get(), VT_EMPTY, 0));
  EXPECT_EQ(zv::kItemEmpty, zv::Kind(item.get()));
}

TEST_F(QuiverTest, ChildAtPastTheEndLeavesOutputsUntouched) {
  const ComPtr<IQuiverItem> root = NewContainer();
  zv::SetInt(Get(root.get(), "only").get(), 1);
  BSTR name = reinterpret_cast<BSTR>(0x1234);
  VARIANT child;
  child.vt = VT_I2;
  child.iVal = 5;
  EXPECT_EQ(DISP_E_BADINDEX, root->GetChildAt(1, &name, &child));
  EXPECT_EQ(DISP_E_BADINDEX, root->GetChildAt(-1, &name, &child));
  EXPECT_EQ(reinterpret_cast<BSTR>(0x1234), name);
  EXPECT_EQ(VT_I2, child.vt);
  EXPECT_EQ(E_POINTER, root->GetChildAt(0, nullptr, &child));
}

TEST_F(QuiverTest, ModeAndOptionAcceptOnlyKnownValues) {
  const ComPtr<IQuiverItem> item = NewContainer();
  EXPECT_EQ(E_INVALIDARG, item->SetSerializeMode(0));
  EXPECT_EQ(E_INVALIDARG, item->SetSerializeMode(3));
  EXPECT_EQ(E_INVALIDARG, item->SetLoadOption(1, TRUE));
  ComPtr<IQuiverSerializer> serializer;
  ASSERT_EQ(S_OK, item->QueryInterface(__uuidof(IQuiverSerializer), serializer.put_void()));
  ASSERT_EQ(S_OK, item->SetSerializeMode(zv::kSerializeXml));
  SAFEARRAY* sentinel = reinterpret_cast<SAFEARRAY*>(0x5678);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), serializer->Serialize(&sentinel));
  EXPECT_EQ(reinterpret_cast<SAFEARRAY*>(0x5678), sentinel);
}

TEST_F(QuiverTest, TreesStopAtTheirDepthLimit) {
  ComPtr<IQuiverItem> item = NewContainer();
  for (int level = 1; level <= 64; ++level) {
    item = Get(item.get(), "deeper");
    ASSERT_TRUE(item) << "level " << level;
  }
  EXPECT_FALSE(Get(item.get(), "deeper"));
  ComPtr<IQuiverItem> element;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), item->AppendChild(element.put()));
}

TEST_F(QuiverTest, ClassObjectAnswersOnlyItsClass) {
  const HMODULE module = ::GetModuleHandleW(L"Quiver.dll");
  ASSERT_TRUE(module);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
  const auto getClassObject = reinterpret_cast<GetClassObject>(::GetProcAddress(module, "DllGetClassObject"));
  const auto canUnloadNow = reinterpret_cast<CanUnloadNow>(::GetProcAddress(module, "DllCanUnloadNow"));
  ASSERT_TRUE(getClassObject && canUnloadNow);

  void* sentinel = reinterpret_cast<void*>(0x42);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(zv::kClsidDataX, IID_IClassFactory, &sentinel));
  EXPECT_EQ(nullptr, sentinel);

  EXPECT_EQ(S_OK, canUnloadNow());
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, getClassObject(zv::kClsidQuiverContainer, IID_IClassFactory, factory.put_void()));
  EXPECT_EQ(S_FALSE, canUnloadNow());
  ComPtr<IUnknown> object;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.get(), IID_IUnknown, object.put_void()));
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, object.put_void()));
  EXPECT_FALSE(object);
  factory.reset();
  EXPECT_EQ(S_OK, canUnloadNow());
}

// ---- Binary serialization ---------------------------------------------------

TEST_F(QuiverTest, BinaryRoundTripKeepsTheWholeTree) {
  const ComPtr<IQuiverItem> root = NewContainer();
  zv::SetInt(Get(root.get(), "CmdID").get(), 10004);
  zv::SetString(Get(root.get(), "GameID").get(), std::wstring(L"123"));
  zv::SetString(Get(root.get(), "名称").get(), std::wstring(L"仙境传说：中文名字 😀"));
  zv::SetString(Get(root.get(), "blank").get(), std::wstring());
  zv::SetString(Get(root.get(), "zero").get(), std::wstring(L"a\0b", 3));
  SetVariant(Get(root.get(), "min").get(), VT_I8, LLONG_MIN);
  SetVariant(Get(root.get(), "max").get(), VT_I8, LLONG_MAX);
  zv::SetUInt(Get(Get(Get(root.get(), "nested").get(), "deeper").get(), "flag").get(), 4294967295u);
  Get(root.get(), "untouched");
  const ComPtr<IQuiverItem> list = Get(root.get(), "list");
  ComPtr<IQuiverItem> element;
  ASSERT_EQ(S_OK, list->AppendChild(element.put()));
  zv::SetString(element.get(), std::wstring(L"第一"));
  ASSERT_EQ(S_OK, list->AppendChild(element.put()));
  ASSERT_EQ(S_OK, list->AppendChild(element.put()));
  zv::SetInt(Get(element.get(), "inner").get(), -7);

  const std::string bytes = zv::Serialize(root.get());
  ASSERT_FALSE(bytes.empty());
  const ComPtr<IQuiverItem> copy = NewContainer();
  ASSERT_TRUE(zv::Load(copy.get(), bytes.data(), bytes.size()));
  EXPECT_EQ(0u, ::GetLastError());
  EXPECT_EQ(Dump(root.get()), Dump(copy.get()));
  EXPECT_EQ(bytes, zv::Serialize(copy.get()));

  EXPECT_EQ(10004, zv::GetInt(Get(copy.get(), "CmdID").get()));
  EXPECT_EQ(L"仙境传说：中文名字 😀", GetString(Get(copy.get(), "名称").get()));
  EXPECT_EQ(std::wstring(L"a\0b", 3), GetString(Get(copy.get(), "zero").get()));
  EXPECT_EQ(-1, zv::GetInt(Get(Get(Get(copy.get(), "nested").get(), "deeper").get(), "flag").get()));
  const ComPtr<IQuiverItem> copiedList = Get(copy.get(), "list");
  ASSERT_EQ(zv::kItemList, zv::Kind(copiedList.get()));
  ASSERT_EQ(3, zv::Count(copiedList.get()));
  EXPECT_EQ(L"第一", GetString(zv::ChildAt(copiedList.get(), 0).get()));
  EXPECT_EQ(zv::kItemEmpty, zv::Kind(zv::ChildAt(copiedList.get(), 1).get()));
  EXPECT_EQ(-7, zv::GetInt(Get(zv::ChildAt(copiedList.get(), 2).get(), "inner").get()));
}

TEST_F(QuiverTest, SerializeRefusesTextUtf8CannotCarry) {
  const ComPtr<IQuiverItem> root = NewContainer();
  zv::SetString(Get(root.get(), "broken").get(), std::wstring(1, wchar_t(0xD800)));
  ComPtr<IQuiverSerializer> serializer;
  ASSERT_EQ(S_OK, root->QueryInterface(__uuidof(IQuiverSerializer), serializer.put_void()));
  SAFEARRAY* bytes = nullptr;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION), serializer->Serialize(&bytes));
  EXPECT_EQ(nullptr, bytes);
  EXPECT_TRUE(zv::Serialize(root.get()).empty());
}

// ---- XML game information ---------------------------------------------------

TEST_F(QuiverTest, GameInformationFileAnswersTheHallLookups) {
  const ComPtr<IQuiverItem> root = NewXmlContainer();
  FILE* file = _wfopen((zvtest::ProgramFolder() + L"\\game123.xml").c_str(), L"rb");
  ASSERT_TRUE(file);
  const DWORD result = zv::LoadFile(root.get(), file);
  fclose(file);
  ASSERT_EQ(0u, result);

  const ComPtr<IQuiverItem> own = Get(root.get(), "game123@");
  EXPECT_EQ(L"仙境传说 & Friends", GetString(Get(own.get(), "name").get()));
  EXPECT_EQ(L"hero.nes", GetString(Get(own.get(), "pkgName").get()));
  EXPECT_EQ(L"FCEmu", GetString(Get(own.get(), "runFlat").get()));
  EXPECT_EQ(L"http://127.0.0.1/emu/FCEmu.zip", GetString(Get(own.get(), "downloadUrl").get()));
  EXPECT_EQ(L"fceux.exe", GetString(Get(own.get(), "emuStartFile").get()));

  const ComPtr<IQuiverItem> game = Get(root.get(), "game123");
  const ComPtr<IQuiverItem> clients = Get(game.get(), "clients");
  ASSERT_EQ(zv::kItemRecord, zv::Kind(clients.get()));
  ASSERT_EQ(2, zv::Count(clients.get()));
  std::wstring partName;
  const ComPtr<IQuiverItem> first = zv::ChildAt(clients.get(), 0, &partName);
  EXPECT_EQ(L"MD5-9e107d9d372bb6826bd81d3542a419d6", partName);
  EXPECT_EQ(L"ZVURL:q3Jd0x2p8Tm7Yb1Lc4Nw6Qe9Rs5Uv0Xz", GetString(Get(first.get(), "fileUrl").get()));
  EXPECT_EQ(L"bin\\hero.exe", GetString(Get(first.get(), "startupFile").get()));
  EXPECT_EQ(L"bin", GetString(Get(first.get(), "startupRelativelyFileInfo").get()));

  const ComPtr<IQuiverItem> patches = Get(game.get(), "patches");
  ASSERT_EQ(zv::kItemList, zv::Kind(patches.get()));
  ASSERT_EQ(2, zv::Count(patches.get()));
  const ComPtr<IQuiverItem> second = zv::ChildAt(patches.get(), 1);
  ASSERT_EQ(zv::kItemRecord, zv::Kind(second.get()));
  EXPECT_EQ(L"ZVURL:Tt5Uu6<Vv7>", GetString(Get(zv::ChildAt(second.get(), 0).get(), "fileUrl").get()));

  EXPECT_EQ(L"", GetString(Get(Get(root.get(), "game999@").get(), "name").get()));
}

TEST_F(QuiverTest, XmlMappingOfRepeatsAttributesAndText) {
  struct Case {
    const char* xml;
    bool attributeRecords;
    const wchar_t* tree;
  };
  const Case cases[] = {
      {"<r><p a='1'/><p/><p b=\"2\">t</p></r>", true, L"{r:{p:['','','t',],p@:[{a:'1',},{},{b:'2',},],},}"},
      {"<r><p a='1'/><p/></r>", false, L"{r:{p:['','',],},}"},
      {"<r x='&lt;&#x4E2D;&#25991;&#x1F600;'>\r\n<a>line\r\nnext</a>\n<b>  </b><!-- c --><?pi x?></r>", true,
       L"{r:{a:'line\nnext',b:'  ',},r@:{x:'<中文😀',},}"},
      {"\xEF\xBB\xBF<a>&amp;&apos;&quot;&gt;<![CDATA[<&>]]></a>", true, L"{a:'&'\"><&>',}"},
      {"<?xml version='1.0' encoding='GBK'?><a v='\xD6\xD0'>\xD6\xD0\xCE\xC4</a>", true, L"{a:'中文',a@:{v:'中',},}"},
      {"<a t='tab\there'>x</a>", true, L"{a:'x',a@:{t:'tab here',},}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    const ComPtr<IQuiverItem> container = NewContainer();
    container->SetSerializeMode(zv::kSerializeXml);
    container->SetLoadOption(zv::kLoadOptionAttributeRecords, c.attributeRecords);
    ASSERT_TRUE(zv::Load(container.get(), c.xml, strlen(c.xml))) << "last error " << ::GetLastError();
    EXPECT_EQ(c.tree, Dump(container.get()));
  }
}

// ---- Hostile input ----------------------------------------------------------

std::string Repeat(const std::string& part, size_t times) {
  std::string out;
  out.reserve(part.size() * times);
  for (size_t i = 0; i < times; ++i) out += part;
  return out;
}

std::string Varint(uint64_t value) {
  std::string out;
  for (; value >= 0x80; value >>= 7) out.push_back(static_cast<char>((value & 0x7F) | 0x80));
  out.push_back(static_cast<char>(value));
  return out;
}

struct BadInput {
  std::string label;
  BYTE mode;
  std::string bytes;
  DWORD error;
};

std::vector<BadInput> BadInputs() {
  const std::string magic("QVR\x02", 4);
  const BYTE bin = zv::kSerializeBinary;
  const BYTE xml = zv::kSerializeXml;
  std::string manyAttributes = "<a";
  for (int i = 0; i < 300; ++i) manyAttributes += " n" + std::to_string(i) + "='v'";
  manyAttributes += "/>";
  return {
      {"binary: empty", bin, "", ERROR_INVALID_DATA},
      {"binary: wrong magic", bin, std::string("QVX\x02\x00", 5), ERROR_INVALID_DATA},
      {"binary: unknown version", bin, std::string("QVR\x03\x00", 5), ERROR_INVALID_DATA},
      {"binary: magic only", bin, magic, ERROR_INVALID_DATA},
      {"binary: unknown kind", bin, magic + "\x09", ERROR_INVALID_DATA},
      {"binary: truncated text", bin, magic + "\x01\x05" + "ab", ERROR_INVALID_DATA},
      {"binary: truncated record", bin, magic + std::string("\x04\x02\x01" "a\x00", 5), ERROR_INVALID_DATA},
      {"binary: huge count", bin, magic + "\x03" + Varint(0xFFFFFFFFu), ERROR_INVALID_DATA},
      {"binary: count past 32 bits", bin, magic + "\x03" + Varint(1ull << 40), ERROR_INVALID_DATA},
      {"binary: overlong varint", bin, magic + "\x02" + std::string(11, '\xFF'), ERROR_INVALID_DATA},
      {"binary: varint overflow", bin, magic + "\x02" + std::string(9, '\xFF') + "\x7F", ERROR_INVALID_DATA},
      {"binary: invalid UTF-8", bin, magic + "\x01\x02\xC0\xAF", ERROR_NO_UNICODE_TRANSLATION},
      {"binary: encoded surrogate", bin, magic + "\x01\x03\xED\xA0\x80", ERROR_NO_UNICODE_TRANSLATION},
      {"binary: repeated name", bin, magic + std::string("\x04\x02\x01" "a\x00\x01" "a\x00", 9), ERROR_INVALID_DATA},
      {"binary: empty name", bin, magic + std::string("\x04\x01\x00\x00", 4), ERROR_INVALID_DATA},
      {"binary: trailing byte", bin, magic + std::string("\x00\x00", 2), ERROR_INVALID_DATA},
      {"binary: nested 10000 deep", bin, magic + Repeat("\x03\x01", 10000) + std::string(1, '\0'), ERROR_INVALID_DATA},
      {"binary: 200000 items", bin, magic + "\x03" + Varint(200000) + std::string(200000, '\0'), ERROR_INVALID_DATA},
      {"xml: empty", xml, "", ERROR_INVALID_DATA},
      {"xml: white space only", xml, " \n ", ERROR_INVALID_DATA},
      {"xml: declaration only", xml, "<?xml version='1.0'?>", ERROR_INVALID_DATA},
      {"xml: truncated tag", xml, "<game1><a>text</a", ERROR_INVALID_DATA},
      {"xml: unclosed element", xml, "<game1><a>", ERROR_INVALID_DATA},
      {"xml: mismatched end", xml, "<a></b>", ERROR_INVALID_DATA},
      {"xml: two roots", xml, "<a/><b/>", ERROR_INVALID_DATA},
      {"xml: text after the root", xml, "<a/>x", ERROR_INVALID_DATA},
      {"xml: text beside children", xml, "<a>x<b/></a>", ERROR_INVALID_DATA},
      {"xml: missing name", xml, "<>", ERROR_INVALID_DATA},
      {"xml: nested 10000 deep", xml, Repeat("<a>", 10000) + Repeat("</a>", 10000), ERROR_INVALID_DATA},
      {"xml: entity expansion", xml,
       "<!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;&lol;\">]><a>&lol2;</a>",
       ERROR_NOT_SUPPORTED},
      {"xml: external entity", xml, "<!DOCTYPE a SYSTEM \"file:///c:/windows/win.ini\"><a/>", ERROR_NOT_SUPPORTED},
      {"xml: undefined entity", xml, "<a>&lol;</a>", ERROR_INVALID_DATA},
      {"xml: unterminated entity", xml, "<a>&amp</a>", ERROR_INVALID_DATA},
      {"xml: reference to NUL", xml, "<a>&#0;</a>", ERROR_INVALID_DATA},
      {"xml: reference to a surrogate", xml, "<a>&#xD800;</a>", ERROR_INVALID_DATA},
      {"xml: reference past Unicode", xml, "<a>&#x110000;</a>", ERROR_INVALID_DATA},
      {"xml: reference with 20 digits", xml, "<a>&#99999999999999999999;</a>", ERROR_INVALID_DATA},
      {"xml: empty reference", xml, "<a>&#x;</a>", ERROR_INVALID_DATA},
      {"xml: invalid UTF-8", xml, "<a>\xFF</a>", ERROR_NO_UNICODE_TRANSLATION},
      {"xml: overlong UTF-8", xml, "<a>\xC0\xAF</a>", ERROR_NO_UNICODE_TRANSLATION},
      {"xml: encoded surrogate", xml, "<a>\xED\xA0\x80</a>", ERROR_NO_UNICODE_TRANSLATION},
      {"xml: truncated UTF-8", xml, "<a>\xE4\xB8", ERROR_NO_UNICODE_TRANSLATION},
      {"xml: control character", xml, "<a>\x01</a>", ERROR_INVALID_DATA},
      {"xml: NUL byte", xml, std::string("<a>\0</a>", 8), ERROR_INVALID_DATA},
      {"xml: repeated attribute", xml, "<a x='1' x='2'/>", ERROR_INVALID_DATA},
      {"xml: unquoted attribute", xml, "<a x=1/>", ERROR_INVALID_DATA},
      {"xml: '<' in an attribute", xml, "<a x='<'/>", ERROR_INVALID_DATA},
      {"xml: attributes not separated", xml, "<a x='1'y='2'/>", ERROR_INVALID_DATA},
      {"xml: 300 attributes", xml, manyAttributes, ERROR_INVALID_DATA},
      {"xml: 200000 siblings", xml, "<a>" + Repeat("<b/>", 200000) + "</a>", ERROR_INVALID_DATA},
      {"xml: ']]>' in text", xml, "<a>]]></a>", ERROR_INVALID_DATA},
      {"xml: unclosed comment", xml, "<a><!-- x</a>", ERROR_INVALID_DATA},
      {"xml: '--' in a comment", xml, "<a><!-- a -- b --></a>", ERROR_INVALID_DATA},
      {"xml: unclosed CDATA", xml, "<a><![CDATA[x</a>", ERROR_INVALID_DATA},
      {"xml: declaration inside", xml, "<a><?xml version='1.0'?></a>", ERROR_INVALID_DATA},
      {"xml: unknown encoding", xml, "<?xml version='1.0' encoding='ISO-8859-1'?><a/>", ERROR_NOT_SUPPORTED},
      {"xml: byte-order mark with GBK", xml, "\xEF\xBB\xBF<?xml version='1.0' encoding='GBK'?><a/>", ERROR_INVALID_DATA},
      {"xml: invalid GBK", xml, "<?xml version='1.0' encoding='GBK'?><a>\xFF\xFF</a>", ERROR_NO_UNICODE_TRANSLATION},
      {"xml: larger than 16 MB", xml, "<a>" + std::string(17u << 20, ' ') + "</a>", ERROR_INVALID_DATA},
  };
}

class MalformedInputTest : public QuiverTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(MalformedInputTest, IsRefusedThroughTheLastErrorAndChangesNothing) {
  const BadInput& input = GetParam();
  const ComPtr<IQuiverItem> container = NewContainer();
  zv::SetString(Get(container.get(), "keep").get(), std::wstring(L"kept"));
  const std::wstring before = Dump(container.get());
  ASSERT_EQ(S_OK, container->SetSerializeMode(input.mode));
  ASSERT_EQ(S_OK, container->SetLoadOption(zv::kLoadOptionAttributeRecords, TRUE));

  ::SetLastError(ERROR_SUCCESS);
  container->Load(reinterpret_cast<const BYTE*>(input.bytes.data()), static_cast<ULONG>(input.bytes.size()));
  EXPECT_EQ(input.error, ::GetLastError());
  EXPECT_EQ(before, Dump(container.get()));

  ComPtr<IQuiverSerializer> serializer;
  ASSERT_EQ(S_OK, container->QueryInterface(__uuidof(IQuiverSerializer), serializer.put_void()));
  EXPECT_EQ(HRESULT_FROM_WIN32(input.error),
            serializer->LoadFromMemory(reinterpret_cast<const BYTE*>(input.bytes.data()),
                                       static_cast<ULONG>(input.bytes.size())));
  EXPECT_EQ(input.error, ::GetLastError());
  EXPECT_EQ(before, Dump(container.get()));
}

INSTANTIATE_TEST_SUITE_P(BothLoaders, MalformedInputTest, ::testing::ValuesIn(BadInputs()),
                         [](const ::testing::TestParamInfo<BadInput>& info) {
                           std::string name;
                           for (char c : info.param.label) name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// Random damage to valid input: every load either succeeds or fails through
// the last-error value, and a failed load leaves the container as it was.
TEST_F(QuiverTest, DamagedInputNeverCrashesEitherLoader) {
  const std::string xml = zvtest::ReadFileBytes(zvtest::ProgramFolder() + L"\\game123.xml");
  ASSERT_FALSE(xml.empty());
  const ComPtr<IQuiverItem> loaded = LoadXml(xml);
  loaded->SetSerializeMode(zv::kSerializeBinary);
  const std::string binary = zv::Serialize(loaded.get());
  ASSERT_FALSE(binary.empty());

  std::mt19937 random(20240611);
  for (const auto& [mode, original] : {std::make_pair(zv::kSerializeXml, xml), std::make_pair(zv::kSerializeBinary, binary)}) {
    for (int round = 0; round < 1500; ++round) {
      std::string damaged = original;
      const int edits = 1 + static_cast<int>(random() % 4);
      for (int e = 0; e < edits && !damaged.empty(); ++e) {
        const size_t at = random() % damaged.size();
        switch (random() % 3) {
          case 0: damaged[at] = static_cast<char>(random()); break;
          case 1: damaged.erase(at, 1 + random() % 8); break;
          default: damaged.resize(at + 1); break;
        }
      }
      const ComPtr<IQuiverItem> container = NewContainer();
      container->SetSerializeMode(mode);
      container->SetLoadOption(zv::kLoadOptionAttributeRecords, TRUE);
      ::SetLastError(0xDEAD);
      container->Load(reinterpret_cast<const BYTE*>(damaged.data()), static_cast<ULONG>(damaged.size()));
      const DWORD error = ::GetLastError();
      ASSERT_NE(0xDEADu, error);
      if (error != ERROR_SUCCESS) {
        EXPECT_EQ(L"-", Dump(container.get()));
      }
    }
  }
}

}  // namespace
