#include "game_state.h"

#include <cwchar>

namespace ostrelle {

namespace {
constexpr size_t kMaxGameIdDigits = 10;
}  // namespace

bool IsGameId(const std::wstring& text) {
  if (text.empty() || text.size() > kMaxGameIdDigits) return false;
  long long value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  return value <= 0x7FFFFFFF;
}

void PackGameId(const std::wstring& gameId, WPARAM* wParam, LPARAM* lParam) {
  *wParam = static_cast<WPARAM>(gameId.size());
  *lParam = static_cast<LPARAM>(_wtoi(gameId.c_str()));
}

}  // namespace ostrelle
