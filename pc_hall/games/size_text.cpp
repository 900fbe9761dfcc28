#include "size_text.h"

#include "common/text.h"

namespace ostrelle {

std::wstring FormatSize(float x) {
  double value = x;
  if (value < 0) value += 4294967296.0;
  if (value < 1024.0) return zv::Format(L"%.0fB", value);
  if (value < 1048576.0) return zv::Format(L"%.0fK", value / 1024.0);
  if (value < 1073741824.0) return zv::Format(L"%.1fM", value / 1048576.0);
  return zv::Format(L"%.1fG", value / 1073741824.0);
}

}  // namespace ostrelle
