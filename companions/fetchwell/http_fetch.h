// One HTTP request of a transfer: opening it (optionally for a byte range
// guarded by If-Range) and reading its body into a file. Failures are sorted
// into those worth another attempt and those that are final.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/handles.h"

namespace zv::fetchwell {

enum class FetchOutcome {
  kDone,       // the request or body completed
  kAborted,    // stopped on request (cancel, or another segment failed)
  kTransient,  // connection trouble, timeouts, 408/429/5xx: worth a retry
  kPermanent,  // bad URL, unknown host, other 4xx, disk errors
};

struct ResponseInfo {
  DWORD statusCode = 0;
  int64_t contentLength = -1;  // this response's body length, -1 unknown
  int64_t totalSize = -1;      // the whole resource's size, -1 unknown
  int64_t rangeStart = 0;      // first byte of a 206 body
  bool acceptsRanges = false;
  std::wstring validator;      // strong ETag, else Last-Modified; empty if none
};

struct OpenedResponse {
  UniqueInternet request;
  ResponseInfo info;
};

// A session with the system's proxy settings and the engine's timeouts.
UniqueInternet OpenSession();

// GET url; with from > 0 or to >= 0 asks for bytes from..to (to -1: to the
// end) with If-Range on validator when there is one. A 200 or 206 answer is
// kDone with *out filled; other answers and errors are sorted.
FetchOutcome OpenRequest(HINTERNET session, const std::wstring& url, int64_t from, int64_t to,
                         const std::wstring& validator, OpenedResponse* out);

// Reads the body of request into file at offset + *done, at most limit bytes
// in all (-1: to the end of the body), advancing *done after every write.
// A body that ends before limit is kTransient; shouldStop is asked between
// reads.
FetchOutcome ReadBody(HINTERNET request, HANDLE file, int64_t offset, int64_t limit,
                      std::atomic<int64_t>* done, const std::function<bool()>& shouldStop);

}  // namespace zv::fetchwell
