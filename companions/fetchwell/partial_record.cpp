#include "partial_record.h"

#include <windows.h>

#include <sstream>

#include "common/handles.h"
#include "common/locations.h"
#include "common/text.h"

namespace zv::fetchwell {
namespace {

constexpr char kMagic[] = "fetchwell-partial 1";
constexpr DWORD kMaxRecordBytes = 64 * 1024;
constexpr size_t kMaxSegments = 16;

// Segments must tile [0, size) in order, each within its own bounds.
bool SegmentsAreConsistent(const PartialRecord& record) {
  if (record.segments.empty() || record.segments.size() > kMaxSegments) return false;
  int64_t expectedBegin = 0;
  for (const SegmentRecord& segment : record.segments) {
    if (segment.begin != expectedBegin || segment.done < 0) return false;
    if (segment.end >= 0 && (segment.end <= segment.begin || segment.done > segment.end - segment.begin)) {
      return false;
    }
    if (segment.end < 0 && record.segments.size() != 1) return false;
    expectedBegin = segment.end;
  }
  return record.size < 0 ? record.segments.size() == 1 : expectedBegin == record.size;
}

}  // namespace

std::wstring RecordPathFor(const std::wstring& tempPath) { return tempPath + L".meta"; }

bool LoadPartialRecord(const std::wstring& path, PartialRecord* record) {
  std::string bytes;
  if (FAILED(ReadWholeFile(path, kMaxRecordBytes, &bytes)) || bytes.empty()) return false;
  std::istringstream lines(bytes);
  std::string line;
  if (!std::getline(lines, line) || line != kMagic) return false;
  PartialRecord parsed;
  while (std::getline(lines, line)) {
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (key == "url") {
      parsed.url = FromUtf8(value);
    } else if (key == "validator") {
      parsed.validator = FromUtf8(value);
    } else if (key == "size") {
      std::istringstream(value) >> parsed.size;
    } else if (key == "segment") {
      SegmentRecord segment;
      std::istringstream fields(value);
      if (!(fields >> segment.begin >> segment.end >> segment.done)) return false;
      parsed.segments.push_back(segment);
    }
  }
  if (parsed.url.empty() || parsed.validator.empty() || !SegmentsAreConsistent(parsed)) return false;
  *record = std::move(parsed);
  return true;
}

bool SavePartialRecord(const std::wstring& path, const PartialRecord& record) {
  std::ostringstream text;
  text << kMagic << "\nurl " << ToUtf8(record.url) << "\nvalidator " << ToUtf8(record.validator)
       << "\nsize " << record.size << "\n";
  for (const SegmentRecord& segment : record.segments) {
    text << "segment " << segment.begin << ' ' << segment.end << ' ' << segment.done << "\n";
  }
  const std::string bytes = text.str();
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace zv::fetchwell
