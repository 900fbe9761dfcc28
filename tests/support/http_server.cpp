#include "http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "common/handles.h"

namespace zvtest {

struct HttpServer::Resource {
  enum class Kind { kBody, kFile, kStatus, kRedirect } kind = Kind::kBody;
  std::string body;
  std::wstring file;
  int status = 200;
  std::string location;
  HttpOptions options;
  std::string etag;   // resolved from options
  int dropsLeft = -1;
};

namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;
constexpr size_t kFastChunk = 256 * 1024;

std::string ContentTag(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[40];
  std::snprintf(text, sizeof(text), "\"%016llx\"", static_cast<unsigned long long>(hash));
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string HeaderValue(const std::string& head, const std::string& name) {
  const std::string lowerHead = Lower(head);
  const std::string key = "\r\n" + Lower(name) + ":";
  const size_t at = lowerHead.find(key);
  if (at == std::string::npos) return std::string();
  size_t begin = at + key.size();
  const size_t end = head.find("\r\n", begin);
  while (begin < end && head[begin] == ' ') ++begin;
  return head.substr(begin, end - begin);
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// Parses "bytes=a-b", "bytes=a-" and "bytes=-n" against size; false when the
// header is not a single satisfiable range.
bool ParseRange(const std::string& header, int64_t size, int64_t* first, int64_t* last) {
  if (header.compare(0, 6, "bytes=") != 0 || header.find(',') != std::string::npos) return false;
  const std::string spec = header.substr(6);
  const size_t dash = spec.find('-');
  if (dash == std::string::npos) return false;
  const std::string a = spec.substr(0, dash), b = spec.substr(dash + 1);
  if (a.empty()) {
    if (b.empty()) return false;
    const int64_t suffix = std::stoll(b);
    if (suffix <= 0) return false;
    *first = std::max<int64_t>(size - suffix, 0);
    *last = size - 1;
  } else {
    *first = std::stoll(a);
    *last = b.empty() ? size - 1 : std::min<int64_t>(std::stoll(b), size - 1);
  }
  return *first >= 0 && *first < size && *last >= *first;
}

int64_t FileLength(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

HttpServer::HttpServer() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof(address);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener, SOMAXCONN) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(listener);
    return;
  }
  listener_ = listener;
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
  stopping_ = true;
  if (listener_ != INVALID_SOCKET) {
    ::closesocket(listener_);
    if (acceptThread_.joinable()) acceptThread_.join();
  }
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& connection : connections_) {
      if (!connection->finished) ::shutdown(connection->socket, SD_BOTH);
    }
    connections.swap(connections_);
  }
  for (auto& connection : connections) connection->thread.join();
  ::WSACleanup();
}

std::string HttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpServer::AddBody(const std::string& path, std::string body, HttpOptions options) {
  auto resource = std::make_shared<Resource>();
  resource->body = std::move(body);
  Put(path, std::move(resource), std::move(options));
}

void HttpServer::AddFile(const std::string& path, const std::wstring& file, HttpOptions options) {
  auto resource = std::make_shared<Resource>();
  resource->kind = Resource::Kind::kFile;
  resource->file = file;
  Put(path, std::move(resource), std::move(options));
}

void HttpServer::AddStatus(const std::string& path, int status) {
  auto resource = std::make_shared<Resource>();
  resource->kind = Resource::Kind::kStatus;
  resource->status = status;
  resource->body = std::to_string(status) + " " + ReasonPhrase(status) + "\n";
  Put(path, std::move(resource), HttpOptions{});
}

void HttpServer::AddRedirect(const std::string& path, const std::string& location, int status) {
  auto resource = std::make_shared<Resource>();
  resource->kind = Resource::Kind::kRedirect;
  resource->status = status;
  resource->location = location.compare(0, 1, "/") == 0 ? Url(location) : location;
  Put(path, std::move(resource), HttpOptions{});
}

void HttpServer::Put(const std::string& path, std::shared_ptr<Resource> resource, HttpOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  Configure(*resource, std::move(options));
  resources_[path] = std::move(resource);
}

void HttpServer::SetOptions(const std::string& path, HttpOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = resources_.find(path);
  if (found == resources_.end()) return;
  // Requests in flight keep the resource they started with.
  auto updated = std::make_shared<Resource>(*found->second);
  Configure(*updated, std::move(options));
  found->second = std::move(updated);
}

void HttpServer::Configure(Resource& resource, HttpOptions options) {
  if (options.etag) {
    resource.etag = *options.etag;
  } else if (resource.kind == Resource::Kind::kBody) {
    resource.etag = ContentTag(resource.body);
  } else if (resource.kind == Resource::Kind::kFile) {
    resource.etag = ContentTag(std::string(resource.file.begin(), resource.file.end()) +
                               std::to_string(FileLength(resource.file)));
  }
  resource.dropsLeft = options.dropTimes;
  resource.options = std::move(options);
}

void HttpServer::Remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_.erase(path);
}

size_t HttpServer::RequestCount(const std::string& path) const { return Requests(path).size(); }

int64_t HttpServer::BytesServed(const std::string& path) const {
  int64_t sum = 0;
  for (const HttpRequestRecord& record : Requests(path)) sum += record.bodyBytes;
  return sum;
}

std::vector<HttpRequestRecord> HttpServer::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HttpRequestRecord> matching;
  for (const HttpRequestRecord& record : records_) {
    if (record.target == path || record.target.compare(0, record.target.find('?'), path) == 0) {
      matching.push_back(record);
    }
  }
  return matching;
}

void HttpServer::ResetCounters() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
  ++recordEpoch_;
}

std::shared_ptr<HttpServer::Resource> HttpServer::Find(const std::string& target) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = resources_.find(target);
  if (found == resources_.end()) found = resources_.find(target.substr(0, target.find('?')));
  return found == resources_.end() ? nullptr : found->second;
}

// A cut is used up only when a response actually reaches it.
bool HttpServer::TakeDrop(Resource& resource) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (resource.dropsLeft == 0) return false;
  if (resource.dropsLeft > 0) --resource.dropsLeft;
  return true;
}

HttpServer::RecordSlot HttpServer::Record(const HttpRequestRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(record);
  return {recordEpoch_, records_.size() - 1};
}

void HttpServer::AddSent(RecordSlot slot, int64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (slot.epoch == recordEpoch_ && slot.index < records_.size()) records_[slot.index].bodyBytes += bytes;
}

void HttpServer::AcceptLoop() {
  for (;;) {
    SOCKET socket = ::accept(listener_, nullptr, nullptr);
    if (socket == INVALID_SOCKET) {
      if (stopping_) return;
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ReapFinished();
    auto connection = std::make_unique<Connection>();
    connection->socket = socket;
    Connection* raw = connection.get();
    connection->thread = std::thread([this, raw] {
      Serve(raw->socket);
      ::closesocket(raw->socket);
      raw->finished = true;
    });
    connections_.push_back(std::move(connection));
  }
}

// Joins connection threads that are done; called with the mutex held.
void HttpServer::ReapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->finished) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

bool HttpServer::SendAll(SOCKET socket, const char* data, size_t size) {
  while (size > 0) {
    if (stopping_) return false;
    const int sent = ::send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool HttpServer::SendBody(SOCKET socket, Resource& resource, int64_t offset, int64_t length, RecordSlot slot) {
  const int64_t rate = resource.options.bytesPerSecond;
  const size_t chunk = rate > 0 ? static_cast<size_t>(std::max<int64_t>(rate / 50, 256)) : kFastChunk;
  zv::UniqueFile file;
  if (resource.kind == Resource::Kind::kFile) {
    file.reset(::CreateFileW(resource.file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
  }
  std::string buffer;
  const auto start = std::chrono::steady_clock::now();
  int64_t sent = 0;
  while (sent < length) {
    const size_t piece = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk), length - sent));
    if (file) {
      buffer.resize(piece);
      OVERLAPPED at = {};
      const uint64_t position = static_cast<uint64_t>(offset + sent);
      at.Offset = static_cast<DWORD>(position);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
      DWORD read = 0;
      if (!::ReadFile(file.get(), &buffer[0], static_cast<DWORD>(piece), &read, &at) || read != piece) return false;
      if (!SendAll(socket, buffer.data(), piece)) return false;
    } else if (!SendAll(socket, resource.body.data() + offset + sent, piece)) {
      return false;
    }
    sent += static_cast<int64_t>(piece);
    AddSent(slot, static_cast<int64_t>(piece));
    if (rate > 0) {
      const auto due = start + std::chrono::microseconds(sent * 1000000 / rate);
      while (std::chrono::steady_clock::now() < due) {
        if (stopping_) return false;
        ::Sleep(5);
      }
    }
  }
  return true;
}

void HttpServer::Serve(SOCKET socket) {
  std::string head;
  char chunk[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (head.size() > kMaxHeaderBytes) return;
    const int got = ::recv(socket, chunk, sizeof(chunk), 0);
    if (got <= 0) return;
    head.append(chunk, static_cast<size_t>(got));
  }
  head = "\r\n" + head.substr(0, head.find("\r\n\r\n") + 2);
  HttpRequestRecord record;
  char method[16] = {}, target[2048] = {};
  if (std::sscanf(head.c_str() + 2, "%15s %2047s", method, target) != 2) return;
  record.method = method;
  record.target = target;
  record.range = HeaderValue(head, "Range");
  record.ifRange = HeaderValue(head, "If-Range");

  std::shared_ptr<Resource> resource = Find(record.target);
  std::string headers;
  int64_t offset = 0, length = 0, size = 0;
  bool cut = false;
  int64_t cutAfter = 0;
  if (!resource) {
    record.status = 404;
    headers = "Content-Length: 0\r\n";
  } else if (resource->kind == Resource::Kind::kRedirect) {
    record.status = resource->status;
    headers = "Location: " + resource->location + "\r\nContent-Length: 0\r\n";
  } else {
    size = resource->kind == Resource::Kind::kFile ? FileLength(resource->file)
                                                   : static_cast<int64_t>(resource->body.size());
    record.status = resource->kind == Resource::Kind::kStatus ? resource->status : 200;
    length = size;
    const HttpOptions& options = resource->options;
    const bool validatorMatches = record.ifRange.empty() || (!resource->etag.empty() && record.ifRange == resource->etag) ||
                                  (!options.lastModified.empty() && record.ifRange == options.lastModified);
    if (record.status == 200 && options.ranges && !record.range.empty() && validatorMatches) {
      int64_t first = 0, last = 0;
      if (ParseRange(record.range, size, &first, &last)) {
        record.status = 206;
        offset = first;
        length = last - first + 1;
        headers += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                   std::to_string(size) + "\r\n";
      } else {
        record.status = 416;
        length = 0;
        headers += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
      }
    }
    if (record.status == 200 || record.status == 206) {
      if (options.ranges) headers += "Accept-Ranges: bytes\r\n";
      if (!resource->etag.empty()) headers += "ETag: " + resource->etag + "\r\n";
      if (!options.lastModified.empty()) headers += "Last-Modified: " + options.lastModified + "\r\n";
      headers += "Content-Type: application/octet-stream\r\n";
      if (options.dropAtOffset >= 0 && options.dropAtOffset < offset + length) {
        cut = true;
        cutAfter = std::max<int64_t>(options.dropAtOffset - offset, 0);
      }
    }
    if (options.contentLength || record.status != 200) {
      headers += "Content-Length: " + std::to_string(length) + "\r\n";
    }
  }
  const RecordSlot slot = Record(record);
  const std::string response = "HTTP/1.1 " + std::to_string(record.status) + " " + ReasonPhrase(record.status) +
                               "\r\n" + headers + "Connection: close\r\n\r\n";
  if (!SendAll(socket, response.data(), response.size())) return;
  if (record.method == "HEAD" || !resource || resource->kind == Resource::Kind::kRedirect) return;
  if (cut) {
    if (!SendBody(socket, *resource, offset, cutAfter, slot)) return;
    if (TakeDrop(*resource)) {
      // An abortive close: the client sees a reset, not a clean end.
      const linger abortive = {1, 0};
      ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof(abortive));
      return;
    }
    offset += cutAfter;
    length -= cutAfter;
  }
  if (SendBody(socket, *resource, offset, length, slot)) ::shutdown(socket, SD_SEND);
}

}  // namespace zvtest
