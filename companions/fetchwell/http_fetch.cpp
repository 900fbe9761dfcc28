#include "http_fetch.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "common/text.h"

namespace zv::fetchwell {
namespace {

constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kReceiveTimeoutMs = 30000;
constexpr DWORD kMinReadChunk = 4 * 1024;
constexpr DWORD kStartReadChunk = 64 * 1024;
constexpr DWORD kMaxReadChunk = 1024 * 1024;
constexpr ULONGLONG kFastReadMs = 20;
constexpr ULONGLONG kSlowReadMs = 100;

bool IsTransientStatus(DWORD status) {
  return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

bool IsTransientError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
    case ERROR_INTERNET_INVALID_OPERATION:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_INVALID_PARAMETER:
      return false;
    default:
      return true;
  }
}

std::wstring QueryText(HINTERNET request, DWORD info) {
  std::wstring text;
  const HRESULT hr = CallWithGrowingBuffer(text, [&](wchar_t* buffer, DWORD capacity, DWORD* length) {
    DWORD bytes = capacity * sizeof(wchar_t);
    if (::HttpQueryInfoW(request, info, buffer, &bytes, nullptr)) {
      *length = bytes / sizeof(wchar_t);
      return S_OK;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return HRESULT_FROM_WIN32(error);
    *length = bytes / sizeof(wchar_t);
    return S_OK;
  }, 128);
  return SUCCEEDED(hr) ? text : std::wstring();
}

int64_t ParseInt64(const std::wstring& text) {
  if (text.empty()) return -1;
  wchar_t* end = nullptr;
  const long long value = std::wcstoll(text.c_str(), &end, 10);
  return (end && *end == L'\0' && value >= 0) ? value : -1;
}

// "bytes a-b/total": a, and total unless it is "*".
bool ParseContentRange(const std::wstring& text, int64_t* start, int64_t* total) {
  long long first = 0, last = 0;
  wchar_t totalText[32] = {};
  if (std::swscanf(text.c_str(), L"bytes %lld-%lld/%31ls", &first, &last, totalText) != 3) return false;
  if (first < 0 || last < first) return false;
  *start = first;
  *total = ParseInt64(totalText);
  return true;
}

ResponseInfo DescribeResponse(HINTERNET request, DWORD status) {
  ResponseInfo info;
  info.statusCode = status;
  info.contentLength = ParseInt64(QueryText(request, HTTP_QUERY_CONTENT_LENGTH));
  info.acceptsRanges = EqualsIgnoreCase(QueryText(request, HTTP_QUERY_ACCEPT_RANGES), L"bytes");
  const std::wstring etag = QueryText(request, HTTP_QUERY_ETAG);
  info.validator = (!etag.empty() && etag.compare(0, 2, L"W/") != 0)
                       ? etag
                       : QueryText(request, HTTP_QUERY_LAST_MODIFIED);
  if (status == 206) {
    int64_t start = 0, total = -1;
    if (ParseContentRange(QueryText(request, HTTP_QUERY_CONTENT_RANGE), &start, &total)) {
      info.rangeStart = start;
      info.totalSize = total;
    } else {
      info.rangeStart = -1;  // unusable: the caller restarts
    }
  } else {
    info.totalSize = info.contentLength;
  }
  return info;
}

// A blocking read returns only when its buffer is full, so the read size
// follows the stream's pace: large reads while data streams in, small ones
// on a slow link, so that a cancel is seen within about kSlowReadMs.
class ReadSizer {
 public:
  DWORD size() const { return size_; }
  void Adapt(bool filled, ULONGLONG elapsedMs) {
    if (filled && elapsedMs < kFastReadMs) {
      size_ = std::min(size_ * 2, kMaxReadChunk);
    } else if (elapsedMs > kSlowReadMs) {
      size_ = std::max(size_ / 2, kMinReadChunk);
    }
  }

 private:
  DWORD size_ = kStartReadChunk;
};

}  // namespace

UniqueInternet OpenSession() {
  UniqueInternet session(
      ::InternetOpenW(L"Fetchwell/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session) {
    DWORD connect = kConnectTimeoutMs, receive = kReceiveTimeoutMs;
    ::InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect));
    ::InternetSetOptionW(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
  }
  return session;
}

FetchOutcome OpenRequest(HINTERNET session, const std::wstring& url, int64_t from, int64_t to,
                         const std::wstring& validator, OpenedResponse* out) {
  std::wstring headers;
  if (from > 0 || to >= 0) {
    headers = to >= 0 ? Format(L"Range: bytes=%lld-%lld\r\n", static_cast<long long>(from),
                               static_cast<long long>(to))
                      : Format(L"Range: bytes=%lld-\r\n", static_cast<long long>(from));
    if (!validator.empty()) headers += L"If-Range: " + validator + L"\r\n";
  }
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                      INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
  UniqueInternet request(::InternetOpenUrlW(session, url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                            headers.empty() ? 0 : static_cast<DWORD>(-1), flags, 0));
  if (!request) {
    return IsTransientError(::GetLastError()) ? FetchOutcome::kTransient : FetchOutcome::kPermanent;
  }
  DWORD status = 0, size = sizeof(status);
  if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
    return FetchOutcome::kTransient;
  }
  if (status != 200 && status != 206) {
    return IsTransientStatus(status) ? FetchOutcome::kTransient : FetchOutcome::kPermanent;
  }
  out->info = DescribeResponse(request.get(), status);
  out->request = std::move(request);
  return FetchOutcome::kDone;
}

FetchOutcome ReadBody(HINTERNET request, HANDLE file, int64_t offset, int64_t limit,
                      std::atomic<int64_t>* done, const std::function<bool()>& shouldStop) {
  std::vector<char> buffer(kMaxReadChunk);
  ReadSizer sizer;
  for (;;) {
    const int64_t remaining = limit < 0 ? static_cast<int64_t>(kMaxReadChunk) : limit - done->load();
    if (remaining <= 0) return FetchOutcome::kDone;
    if (shouldStop()) return FetchOutcome::kAborted;
    const DWORD wanted = static_cast<DWORD>(std::min<int64_t>(sizer.size(), remaining));
    const ULONGLONG started = ::GetTickCount64();
    DWORD got = 0;
    if (!::InternetReadFile(request, buffer.data(), wanted, &got)) return FetchOutcome::kTransient;
    if (got == 0) return limit < 0 ? FetchOutcome::kDone : FetchOutcome::kTransient;
    sizer.Adapt(got == wanted, ::GetTickCount64() - started);
    const uint64_t position = static_cast<uint64_t>(offset + done->load());
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD written = 0;
    if (!::WriteFile(file, buffer.data(), got, &written, &at) || written != got) {
      return FetchOutcome::kPermanent;
    }
    done->fetch_add(got);
  }
}

}  // namespace zv::fetchwell
