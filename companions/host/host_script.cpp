#include "host_script.h"

#include <cwctype>

#include "common/text.h"

namespace zv {
namespace {

constexpr DWORD kDefaultWaitMs = 10000;

bool IsQuoted(const std::wstring& word) {
  return word.size() >= 2 && word.front() == L'"' && word.back() == L'"';
}

std::wstring Unquote(const std::wstring& word) {
  if (!IsQuoted(word)) return word;
  std::wstring text;
  for (size_t i = 1; i + 1 < word.size(); ++i) {
    if (word[i] == L'\\' && i + 2 < word.size()) ++i;
    text.push_back(word[i]);
  }
  return text;
}

bool ParseInteger(const std::wstring& word, long long* value) {
  if (word.empty()) return false;
  wchar_t* end = nullptr;
  const bool hex = word.size() > 2 && word[0] == L'0' && (word[1] == L'x' || word[1] == L'X');
  *value = std::wcstoll(word.c_str(), &end, hex ? 16 : 10);
  return end && *end == L'\0';
}

// Splits "key=value" where value may be quoted.
bool SplitPair(const std::wstring& word, std::wstring* key, std::wstring* value) {
  const size_t equals = word.find(L'=');
  if (equals == std::wstring::npos || equals == 0) return false;
  *key = word.substr(0, equals);
  *value = word.substr(equals + 1);
  return true;
}

}  // namespace

bool SplitWords(const std::wstring& line, std::vector<std::wstring>* words) {
  words->clear();
  size_t i = 0;
  while (i < line.size()) {
    if (std::iswspace(line[i])) {
      ++i;
      continue;
    }
    if (line[i] == L'#') break;
    std::wstring word;
    int braces = 0;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const wchar_t c = line[i];
      if (!quoted && braces == 0 && std::iswspace(c)) break;
      if (quoted && c == L'\\' && i + 1 < line.size()) {
        word.push_back(c);
        word.push_back(line[++i]);
        continue;
      }
      if (c == L'"') quoted = !quoted;
      if (!quoted && c == L'{') ++braces;
      if (!quoted && c == L'}') --braces;
      word.push_back(c);
    }
    if (quoted || braces != 0) return false;
    words->push_back(word);
  }
  return true;
}

HostScript::HostScript(HallHost& host, FILE* out) : host_(host), out_(out), start_(::GetTickCount64()) {
  host_.SetObserver([this](const HostEvent& event) { Print(L"event " + event.text); });
}

void HostScript::Print(const std::wstring& text) {
  const double seconds = (::GetTickCount64() - start_) / 1000.0;
  std::fprintf(out_, "[%7.3f] %s\n", seconds, ToUtf8(text).c_str());
  std::fflush(out_);
}

ScriptResult HostScript::Run(const std::vector<std::wstring>& lines) {
  for (const std::wstring& line : lines) {
    const ScriptResult result = RunLine(line);
    if (result != ScriptResult::kOk) return result;
  }
  return ScriptResult::kOk;
}

ScriptResult HostScript::RunLine(const std::wstring& line) {
  std::vector<std::wstring> words;
  if (!SplitWords(line, &words)) {
    Print(L"error: unbalanced quotes or braces: " + line);
    return ScriptResult::kBadScript;
  }
  if (words.empty()) return ScriptResult::kOk;
  const std::wstring& command = words[0];
  if (command == L"call") return RunCall(words);
  if (command == L"wait") return RunWait(words);
  if (command == L"expect") return RunExpect(words, false);
  if (command == L"expect-hr") return RunExpect(words, true);
  if (command == L"sleep" && words.size() == 2) {
    long long ms = 0;
    if (!ParseInteger(words[1], &ms) || ms < 0) return ScriptResult::kBadScript;
    host_.WaitForEvent([](const HostEvent&) { return false; }, static_cast<DWORD>(ms), nullptr);
    return ScriptResult::kOk;
  }
  if (command == L"echo") {
    const size_t at = line.find(L"echo") + 4;
    Print(line.size() > at ? line.substr(at + 1) : L"");
    return ScriptResult::kOk;
  }
  Print(L"error: unknown command: " + line);
  return ScriptResult::kBadScript;
}

namespace {

// Turns one argument word into a VARIANT the hall receives.
bool MakeArgument(HallHost& host, const std::wstring& word, UniqueVariant* value) {
  VARIANT* out = value->put();
  long long number = 0;
  if (word == L"-") {
    out->vt = VT_ERROR;
    out->scode = DISP_E_PARAMNOTFOUND;
  } else if (IsQuoted(word)) {
    out->vt = VT_BSTR;
    out->bstrVal = ::SysAllocString(Unquote(word).c_str());
  } else if (word == L"true" || word == L"false") {
    out->vt = VT_BOOL;
    out->boolVal = word == L"true" ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (ParseInteger(word, &number)) {
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(number);
  } else if (word.size() >= 2 && word.front() == L'{' && word.back() == L'}') {
    std::vector<std::wstring> members;
    if (!SplitWords(word.substr(1, word.size() - 2), &members)) return false;
    std::vector<UniqueVariant> values(members.size());
    std::vector<std::pair<std::wstring, VARIANT>> properties;
    for (size_t i = 0; i < members.size(); ++i) {
      std::wstring key, text;
      if (!SplitPair(members[i], &key, &text) || !MakeArgument(host, text, &values[i])) return false;
      properties.emplace_back(key, *values[i].get());
    }
    IDispatch* object = nullptr;
    if (FAILED(host.MakeScriptObject(properties, &object))) return false;
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
  } else {
    return false;
  }
  return true;
}

}  // namespace

ScriptResult HostScript::RunCall(const std::vector<std::wstring>& words) {
  if (words.size() < 2 || words.size() > 4) {
    Print(L"error: call NAME [ARG [ARG]]");
    return ScriptResult::kBadScript;
  }
  UniqueVariant params[2];
  for (size_t i = 0; i < 2; ++i) {
    const std::wstring word = words.size() > i + 2 ? words[i + 2] : L"-";
    if (!MakeArgument(host_, word, &params[i])) {
      Print(L"error: cannot make an argument of " + word);
      return ScriptResult::kBadScript;
    }
  }
  UniqueVariant result;
  lastHr_ = host_.Call(Unquote(words[1]), *params[0].get(), *params[1].get(), result.get());
  lastResult_ = PlainValue(*result.get());
  Print(Format(L"call %ls -> hr=0x%08lX result=%ls", words[1].c_str(),
               static_cast<unsigned long>(lastHr_), DescribeVariant(*result.get()).c_str()));
  return ScriptResult::kOk;
}

ScriptResult HostScript::RunWait(const std::vector<std::wstring>& words) {
  if (words.size() < 2) {
    Print(L"error: wait EVENT [KEY=VALUE ...] [timeout=MS]");
    return ScriptResult::kBadScript;
  }
  DWORD timeoutMs = kDefaultWaitMs;
  std::vector<std::pair<std::wstring, std::wstring>> conditions;
  for (size_t i = 2; i < words.size(); ++i) {
    std::wstring key, value;
    if (!SplitPair(words[i], &key, &value)) {
      Print(L"error: expected KEY=VALUE: " + words[i]);
      return ScriptResult::kBadScript;
    }
    long long ms = 0;
    if (key == L"timeout") {
      if (!ParseInteger(value, &ms) || ms < 0) return ScriptResult::kBadScript;
      timeoutMs = static_cast<DWORD>(ms);
    } else {
      conditions.emplace_back(key, Unquote(value));
    }
  }
  const std::wstring name = words[1];
  const bool found = host_.WaitForEvent(
      [&](const HostEvent& event) {
        if (event.name != name) return false;
        for (const auto& [key, value] : conditions) {
          const auto field = event.fields.find(key);
          if (field == event.fields.end() || field->second != value) return false;
        }
        return true;
      },
      timeoutMs, nullptr);
  if (!found) {
    std::wstring wanted = name;
    for (const auto& [key, value] : conditions) wanted += L" " + key + L"=" + value;
    Print(Format(L"timeout: no %ls within %lu ms", wanted.c_str(), static_cast<unsigned long>(timeoutMs)));
    return ScriptResult::kTimedOut;
  }
  return ScriptResult::kOk;
}

ScriptResult HostScript::RunExpect(const std::vector<std::wstring>& words, bool hresult) {
  if (words.size() != 2) return ScriptResult::kBadScript;
  const std::wstring wanted = Unquote(words[1]);
  bool same = false;
  if (hresult) {
    long long value = 0;
    if (!ParseInteger(wanted, &value)) return ScriptResult::kBadScript;
    same = static_cast<HRESULT>(value) == lastHr_;
  } else {
    same = wanted == lastResult_;
  }
  if (!same) {
    Print(Format(L"mismatch: expected %ls, got hr=0x%08lX result=%ls", wanted.c_str(),
                 static_cast<unsigned long>(lastHr_), lastResult_.c_str()));
    return ScriptResult::kMismatch;
  }
  return ScriptResult::kOk;
}

}  // namespace zv
