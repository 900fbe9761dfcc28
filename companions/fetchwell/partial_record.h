// The record kept beside a temporary download file ("<temp>.meta") so that a
// later request, even in a new process, can resume it: the URL, the
// validator the bytes belong to, the full size and each segment's progress.
// A segment's progress is written only after its bytes, so a record may lag
// behind the file but never runs ahead of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv::fetchwell {

struct SegmentRecord {
  int64_t begin = 0;
  int64_t end = -1;  // exclusive; -1 while the size is unknown
  int64_t done = 0;  // bytes of this segment already in the file
};

struct PartialRecord {
  std::wstring url;
  std::wstring validator;
  int64_t size = -1;
  std::vector<SegmentRecord> segments;
};

std::wstring RecordPathFor(const std::wstring& tempPath);

// False when the file is missing or malformed; a malformed record is as
// good as none, and its download starts from zero.
bool LoadPartialRecord(const std::wstring& path, PartialRecord* record);
bool SavePartialRecord(const std::wstring& path, const PartialRecord& record);

}  // namespace zv::fetchwell
