#include "xml_loader.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "utf8.h"

namespace zv::quiver {
namespace {

constexpr size_t kMaxAttributes = 256;
constexpr UINT kCodePageGbk = 936;

// The document as read, before it is mapped onto items.
struct XmlElement {
  std::wstring name;
  std::vector<std::pair<std::wstring, std::wstring>> attributes;
  std::vector<std::unique_ptr<XmlElement>> children;
  std::wstring text;
};

// ---- Input decoding -------------------------------------------------------

bool EqualsAsciiIgnoreCase(const std::string& a, const char* b) {
  return _stricmp(a.c_str(), b) == 0;
}

// The encoding named by an XML declaration at the start of the bytes.
DWORD DeclaredCodePage(const char* data, size_t size, UINT* codePage) {
  *codePage = CP_UTF8;
  const std::string head(data, size < 256 ? size : 256);
  if (head.compare(0, 5, "<?xml") != 0) return ERROR_SUCCESS;
  const size_t close = head.find("?>");
  if (close == std::string::npos) return ERROR_INVALID_DATA;
  const std::string declaration = head.substr(0, close);
  const size_t key = declaration.find("encoding");
  if (key == std::string::npos) return ERROR_SUCCESS;
  const size_t quote = declaration.find_first_of("\"'", key);
  if (quote == std::string::npos) return ERROR_INVALID_DATA;
  const size_t end = declaration.find(declaration[quote], quote + 1);
  if (end == std::string::npos) return ERROR_INVALID_DATA;
  const std::string name = declaration.substr(quote + 1, end - quote - 1);
  if (EqualsAsciiIgnoreCase(name, "UTF-8")) return ERROR_SUCCESS;
  if (EqualsAsciiIgnoreCase(name, "GBK") || EqualsAsciiIgnoreCase(name, "GB2312")) {
    *codePage = kCodePageGbk;
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_SUPPORTED;
}

DWORD DecodeGbk(const char* data, size_t size, std::wstring* out) {
  out->clear();
  if (size == 0) return ERROR_SUCCESS;
  const int length = ::MultiByteToWideChar(kCodePageGbk, MB_ERR_INVALID_CHARS, data,
                                           static_cast<int>(size), nullptr, 0);
  if (length <= 0) return ERROR_NO_UNICODE_TRANSLATION;
  out->resize(static_cast<size_t>(length));
  ::MultiByteToWideChar(kCodePageGbk, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), &(*out)[0],
                        length);
  return ERROR_SUCCESS;
}

// Line ends become "\n" as XML requires; characters XML does not allow are
// refused.
DWORD NormalizeText(const std::wstring& in, std::wstring* out) {
  out->clear();
  out->reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const wchar_t c = in[i];
    if (c == L'\r') {
      out->push_back(L'\n');
      if (i + 1 < in.size() && in[i + 1] == L'\n') ++i;
      continue;
    }
    if ((c < 0x20 && c != L'\t' && c != L'\n') || c == 0xFFFE || c == 0xFFFF) return ERROR_INVALID_DATA;
    out->push_back(c);
  }
  return ERROR_SUCCESS;
}

DWORD DecodeDocument(const BYTE* bytes, size_t size, std::wstring* text) {
  const char* data = reinterpret_cast<const char*>(bytes);
  const bool byteOrderMark = size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0;
  if (byteOrderMark) data += 3, size -= 3;
  UINT codePage = CP_UTF8;
  DWORD error = DeclaredCodePage(data, size, &codePage);
  if (error != ERROR_SUCCESS) return error;
  if (byteOrderMark && codePage != CP_UTF8) return ERROR_INVALID_DATA;
  std::wstring decoded;
  if (codePage == CP_UTF8) {
    if (!DecodeUtf8(data, size, &decoded)) return ERROR_NO_UNICODE_TRANSLATION;
  } else {
    error = DecodeGbk(data, size, &decoded);
    if (error != ERROR_SUCCESS) return error;
  }
  return NormalizeText(decoded, text);
}

// ---- Parsing --------------------------------------------------------------

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }

bool IsNameStartChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c == L':' ||
         (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xD800 && c <= 0xDFFF) ||  // halves of a pair, checked when decoding
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD);
}

bool IsNameChar(wchar_t c) {
  return IsNameStartChar(c) || c == L'-' || c == L'.' || (c >= L'0' && c <= L'9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040;
}

bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendCodePoint(uint32_t c, std::wstring* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<wchar_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
  }
}

class XmlParser {
 public:
  explicit XmlParser(const std::wstring& text) : text_(text) {}

  DWORD Parse(int maxElementDepth, std::unique_ptr<XmlElement>* document) {
    maxElementDepth_ = maxElementDepth;
    SkipDeclaration();
    DWORD error = SkipMisc();
    if (error != ERROR_SUCCESS) return error;
    if (Peek() != L'<') return ERROR_INVALID_DATA;
    auto root = std::make_unique<XmlElement>();
    error = ReadElement(1, root.get());
    if (error != ERROR_SUCCESS) return error;
    error = SkipMisc();
    if (error != ERROR_SUCCESS) return error;
    if (!AtEnd()) return ERROR_INVALID_DATA;
    *document = std::move(root);
    return ERROR_SUCCESS;
  }

  size_t items() const { return items_; }

 private:
  bool AtEnd() const { return next_ >= text_.size(); }
  wchar_t Peek() const { return AtEnd() ? L'\0' : text_[next_]; }
  bool StartsWith(const wchar_t* literal) const { return text_.compare(next_, wcslen(literal), literal) == 0; }

  bool SkipSpace() {
    const size_t start = next_;
    while (!AtEnd() && IsSpace(text_[next_])) ++next_;
    return next_ != start;
  }

  // Moves past the next terminator; false when there is none.
  bool SkipPast(const wchar_t* terminator) {
    const size_t found = text_.find(terminator, next_);
    if (found == std::wstring::npos) return false;
    next_ = found + wcslen(terminator);
    return true;
  }

  bool CountItem() { return ++items_ <= kMaxLoadItems; }

  void SkipDeclaration() {
    if (StartsWith(L"<?xml") && next_ + 5 < text_.size() && IsSpace(text_[next_ + 5])) SkipPast(L"?>");
  }

  DWORD SkipComment() {
    next_ += 4;
    const size_t dashes = text_.find(L"--", next_);
    if (dashes == std::wstring::npos || dashes + 2 >= text_.size() || text_[dashes + 2] != L'>') {
      return ERROR_INVALID_DATA;
    }
    next_ = dashes + 3;
    return ERROR_SUCCESS;
  }

  DWORD SkipProcessingInstruction() {
    next_ += 2;
    std::wstring target;
    const DWORD error = ReadName(&target);
    if (error != ERROR_SUCCESS) return error;
    if (_wcsicmp(target.c_str(), L"xml") == 0) return ERROR_INVALID_DATA;
    return SkipPast(L"?>") ? ERROR_SUCCESS : ERROR_INVALID_DATA;
  }

  // White space, comments and processing instructions around the document element.
  DWORD SkipMisc() {
    for (;;) {
      SkipSpace();
      DWORD error = ERROR_SUCCESS;
      if (StartsWith(L"<!--")) {
        error = SkipComment();
      } else if (StartsWith(L"<?")) {
        error = SkipProcessingInstruction();
      } else if (StartsWith(L"<!DOCTYPE")) {
        return ERROR_NOT_SUPPORTED;
      } else {
        return ERROR_SUCCESS;
      }
      if (error != ERROR_SUCCESS) return error;
    }
  }

  DWORD ReadName(std::wstring* name) {
    if (AtEnd() || !IsNameStartChar(text_[next_])) return ERROR_INVALID_DATA;
    const size_t start = next_++;
    while (!AtEnd() && IsNameChar(text_[next_])) ++next_;
    name->assign(text_, start, next_ - start);
    return ERROR_SUCCESS;
  }

  DWORD ReadCharacterReference(std::wstring* out) {
    const bool hex = Peek() == L'x';
    if (hex) ++next_;
    uint32_t value = 0;
    size_t digits = 0;
    for (; !AtEnd() && text_[next_] != L';'; ++next_, ++digits) {
      const wchar_t c = text_[next_];
      uint32_t digit;
      if (c >= L'0' && c <= L'9') {
        digit = c - L'0';
      } else if (hex && c >= L'a' && c <= L'f') {
        digit = c - L'a' + 10;
      } else if (hex && c >= L'A' && c <= L'F') {
        digit = c - L'A' + 10;
      } else {
        return ERROR_INVALID_DATA;
      }
      value = value * (hex ? 16 : 10) + digit;
      if (value > 0x10FFFF) return ERROR_INVALID_DATA;
    }
    if (AtEnd() || digits == 0 || !IsXmlChar(value)) return ERROR_INVALID_DATA;
    ++next_;
    AppendCodePoint(value, out);
    return ERROR_SUCCESS;
  }

  DWORD ReadReference(std::wstring* out) {
    ++next_;
    if (Peek() == L'#') {
      ++next_;
      return ReadCharacterReference(out);
    }
    static const struct {
      const wchar_t* name;
      wchar_t value;
    } kEntities[] = {{L"lt;", L'<'}, {L"gt;", L'>'}, {L"amp;", L'&'}, {L"quot;", L'"'}, {L"apos;", L'\''}};
    for (const auto& entity : kEntities) {
      if (StartsWith(entity.name)) {
        next_ += wcslen(entity.name);
        out->push_back(entity.value);
        return ERROR_SUCCESS;
      }
    }
    return ERROR_INVALID_DATA;
  }

  DWORD ReadAttributeValue(std::wstring* value) {
    const wchar_t quote = Peek();
    if (quote != L'"' && quote != L'\'') return ERROR_INVALID_DATA;
    ++next_;
    for (;;) {
      if (AtEnd()) return ERROR_INVALID_DATA;
      const wchar_t c = text_[next_];
      if (c == quote) {
        ++next_;
        return ERROR_SUCCESS;
      }
      if (c == L'<') return ERROR_INVALID_DATA;
      if (c == L'&') {
        const DWORD error = ReadReference(value);
        if (error != ERROR_SUCCESS) return error;
        continue;
      }
      value->push_back(IsSpace(c) ? L' ' : c);
      ++next_;
    }
  }

  DWORD ReadAttributes(XmlElement* element, bool* empty) {
    for (;;) {
      const bool separated = SkipSpace();
      if (StartsWith(L"/>")) {
        next_ += 2;
        *empty = true;
        return ERROR_SUCCESS;
      }
      if (Peek() == L'>') {
        ++next_;
        *empty = false;
        return ERROR_SUCCESS;
      }
      if (!separated || element->attributes.size() >= kMaxAttributes || !CountItem()) return ERROR_INVALID_DATA;
      std::wstring name;
      std::wstring value;
      DWORD error = ReadName(&name);
      if (error != ERROR_SUCCESS) return error;
      SkipSpace();
      if (Peek() != L'=') return ERROR_INVALID_DATA;
      ++next_;
      SkipSpace();
      error = ReadAttributeValue(&value);
      if (error != ERROR_SUCCESS) return error;
      for (const auto& existing : element->attributes) {
        if (existing.first == name) return ERROR_INVALID_DATA;
      }
      element->attributes.emplace_back(std::move(name), std::move(value));
    }
  }

  DWORD ReadCharacterData(std::wstring* text, bool* meaningful) {
    const size_t start = next_;
    while (!AtEnd() && text_[next_] != L'<' && text_[next_] != L'&') ++next_;
    const std::wstring data = text_.substr(start, next_ - start);
    if (data.find(L"]]>") != std::wstring::npos) return ERROR_INVALID_DATA;
    for (wchar_t c : data) {
      if (!IsSpace(c)) *meaningful = true;
    }
    text->append(data);
    return ERROR_SUCCESS;
  }

  DWORD ReadCData(std::wstring* text, bool* meaningful) {
    next_ += 9;
    const size_t end = text_.find(L"]]>", next_);
    if (end == std::wstring::npos) return ERROR_INVALID_DATA;
    text->append(text_, next_, end - next_);
    if (end > next_) *meaningful = true;
    next_ = end + 3;
    return ERROR_SUCCESS;
  }

  DWORD ReadEndTag(const std::wstring& name) {
    next_ += 2;
    std::wstring closing;
    const DWORD error = ReadName(&closing);
    if (error != ERROR_SUCCESS) return error;
    SkipSpace();
    if (closing != name || Peek() != L'>') return ERROR_INVALID_DATA;
    ++next_;
    return ERROR_SUCCESS;
  }

  DWORD ReadContent(int depth, XmlElement* element) {
    bool meaningful = false;
    for (;;) {
      if (AtEnd()) return ERROR_INVALID_DATA;
      DWORD error = ERROR_SUCCESS;
      if (StartsWith(L"</")) {
        error = ReadEndTag(element->name);
        if (error != ERROR_SUCCESS) return error;
        break;
      } else if (StartsWith(L"<!--")) {
        error = SkipComment();
      } else if (StartsWith(L"<![CDATA[")) {
        error = ReadCData(&element->text, &meaningful);
      } else if (StartsWith(L"<?")) {
        error = SkipProcessingInstruction();
      } else if (StartsWith(L"<!")) {
        return ERROR_INVALID_DATA;
      } else if (Peek() == L'<') {
        element->children.push_back(std::make_unique<XmlElement>());
        error = ReadElement(depth + 1, element->children.back().get());
      } else if (Peek() == L'&') {
        meaningful = true;
        error = ReadReference(&element->text);
      } else {
        error = ReadCharacterData(&element->text, &meaningful);
      }
      if (error != ERROR_SUCCESS) return error;
    }
    if (element->children.empty()) return ERROR_SUCCESS;
    if (meaningful) return ERROR_INVALID_DATA;  // text beside child elements
    element->text.clear();
    return ERROR_SUCCESS;
  }

  DWORD ReadElement(int depth, XmlElement* element) {
    if (depth > maxElementDepth_ || !CountItem()) return ERROR_INVALID_DATA;
    ++next_;
    DWORD error = ReadName(&element->name);
    if (error != ERROR_SUCCESS) return error;
    bool empty = false;
    error = ReadAttributes(element, &empty);
    if (error != ERROR_SUCCESS || empty) return error;
    return ReadContent(depth, element);
  }

  const std::wstring& text_;
  size_t next_ = 0;
  int maxElementDepth_ = 0;
  size_t items_ = 0;
};

// ---- Mapping onto items ---------------------------------------------------

class ItemBuilder {
 public:
  explicit ItemBuilder(bool attributeRecords) : attributeRecords_(attributeRecords) {}

  // parent becomes a record of the elements, grouped by name.
  DWORD AddElements(const std::vector<const XmlElement*>& elements, Item* parent) {
    parent->MakeRecord();
    std::vector<std::wstring> order;
    std::map<std::wstring, std::vector<const XmlElement*>> groups;
    for (const XmlElement* element : elements) {
      auto& group = groups[element->name];
      if (group.empty()) order.push_back(element->name);
      group.push_back(element);
    }
    for (const std::wstring& name : order) {
      const DWORD error = AddGroup(name, groups[name], parent);
      if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
  }

 private:
  DWORD NewChild(const Item& parent, ItemPtr* child) {
    if (parent.depth() + 1 > kMaxDepth || ++items_ > kMaxLoadItems) return ERROR_INVALID_DATA;
    *child = parent.NewChild();
    return ERROR_SUCCESS;
  }

  DWORD AddGroup(const std::wstring& name, const std::vector<const XmlElement*>& group, Item* parent) {
    bool anyAttributes = false;
    for (const XmlElement* element : group) anyAttributes |= !element->attributes.empty();
    anyAttributes &= attributeRecords_;

    ItemPtr values;
    ItemPtr attributes;
    DWORD error = NewChild(*parent, &values);
    if (error == ERROR_SUCCESS && anyAttributes) error = NewChild(*parent, &attributes);
    if (error != ERROR_SUCCESS) return error;
    if (group.size() == 1) {
      error = FillElement(*group.front(), values.get());
      if (error == ERROR_SUCCESS && anyAttributes) error = FillAttributes(*group.front(), attributes.get());
    } else {
      error = FillList(group, values.get(), attributes.get());
    }
    if (error != ERROR_SUCCESS) return error;
    parent->AddNamed(name, std::move(values));
    if (anyAttributes) parent->AddNamed(name + L"@", std::move(attributes));
    return ERROR_SUCCESS;
  }

  // Repeated siblings: a list of their items, and a parallel list of their
  // attribute records when attributes is not null.
  DWORD FillList(const std::vector<const XmlElement*>& group, Item* values, Item* attributes) {
    values->MakeList();
    if (attributes) attributes->MakeList();
    for (const XmlElement* element : group) {
      ItemPtr value;
      DWORD error = NewChild(*values, &value);
      if (error == ERROR_SUCCESS) error = FillElement(*element, value.get());
      if (error != ERROR_SUCCESS) return error;
      values->AddIndexed(std::move(value));
      if (!attributes) continue;
      ItemPtr record;
      error = NewChild(*attributes, &record);
      if (error == ERROR_SUCCESS) error = FillAttributes(*element, record.get());
      if (error != ERROR_SUCCESS) return error;
      attributes->AddIndexed(std::move(record));
    }
    return ERROR_SUCCESS;
  }

  DWORD FillElement(const XmlElement& element, Item* item) {
    if (element.children.empty()) {
      item->SetText(element.text);
      return ERROR_SUCCESS;
    }
    std::vector<const XmlElement*> children;
    children.reserve(element.children.size());
    for (const auto& child : element.children) children.push_back(child.get());
    return AddElements(children, item);
  }

  DWORD FillAttributes(const XmlElement& element, Item* record) {
    record->MakeRecord();
    for (const auto& attribute : element.attributes) {
      ItemPtr value;
      const DWORD error = NewChild(*record, &value);
      if (error != ERROR_SUCCESS) return error;
      value->SetText(attribute.second);
      record->AddNamed(attribute.first, std::move(value));
    }
    return ERROR_SUCCESS;
  }

  bool attributeRecords_;
  size_t items_ = 0;
};

}  // namespace

DWORD ReadXml(const BYTE* data, size_t size, bool attributeRecords, Item* root) {
  if (size > kMaxLoadBytes) return ERROR_INVALID_DATA;
  std::wstring text;
  DWORD error = DecodeDocument(data, size, &text);
  if (error != ERROR_SUCCESS) return error;
  std::unique_ptr<XmlElement> document;
  // Each element level takes at least one level of items.
  error = XmlParser(text).Parse(kMaxDepth - root->depth(), &document);
  if (error != ERROR_SUCCESS) return error;
  return ItemBuilder(attributeRecords).AddElements({document.get()}, root);
}

}  // namespace zv::quiver
