// A loopback HTTP/1.1 server for tests: a Winsock thread on 127.0.0.1 with a
// free port that serves in-memory bodies and files, single byte ranges with
// If-Range on ETag or Last-Modified, optional missing Content-Length, slow
// sending, dropped connections, error answers and redirects, and counts the
// requests and body bytes it served. Every connection gets its own thread and
// is closed after one response. The destructor stops and joins all threads.
// Resources and options may be changed from the test thread at any time.
//
//   zvtest::HttpServer server;
//   server.AddBody("/pcgame/js/ab/cd/123.xml", bytes);
//   std::string url = server.Url("/pcgame/js/ab/cd/123.xml");
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zvtest {

struct HttpOptions {
  bool ranges = true;                 // honour Range and send "Accept-Ranges: bytes"
  bool contentLength = true;          // send Content-Length (else the body ends at close)
  std::optional<std::string> etag;    // none: a tag made from the content; "": no ETag
  std::string lastModified;           // sent when not empty
  int64_t bytesPerSecond = 0;         // 0: as fast as the socket goes
  int64_t dropAtOffset = -1;          // cut the connection when the body reaches this offset
  int dropTimes = -1;                 // how many responses are cut; -1: all of them
};

struct HttpRequestRecord {
  std::string method;
  std::string target;     // path and query as requested
  std::string range;      // the Range header, if any
  std::string ifRange;    // the If-Range header, if any
  int status = 0;
  int64_t bodyBytes = 0;  // body bytes actually sent
};

class HttpServer {
 public:
  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool running() const { return listener_ != INVALID_SOCKET; }
  unsigned short port() const { return port_; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;

  void AddBody(const std::string& path, std::string body, HttpOptions options = {});
  // Serves the file's bytes, read at request time.
  void AddFile(const std::string& path, const std::wstring& file, HttpOptions options = {});
  // Answers with this status and a short text body (404, 500, ...).
  void AddStatus(const std::string& path, int status);
  // Answers 302 (or status) with Location; a location starting with "/" is on this server.
  void AddRedirect(const std::string& path, const std::string& location, int status = 302);
  void SetOptions(const std::string& path, HttpOptions options);
  void Remove(const std::string& path);

  size_t RequestCount(const std::string& path) const;
  int64_t BytesServed(const std::string& path) const;
  std::vector<HttpRequestRecord> Requests(const std::string& path) const;
  void ResetCounters();

 private:
  struct Resource;
  struct RecordSlot {
    unsigned epoch;
    size_t index;
  };
  struct Connection {
    SOCKET socket = INVALID_SOCKET;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void Put(const std::string& path, std::shared_ptr<Resource> resource, HttpOptions options);
  // Resolves the ETag and the cut count from options; called with the mutex held.
  void Configure(Resource& resource, HttpOptions options);
  void AcceptLoop();
  void Serve(SOCKET socket);
  std::shared_ptr<Resource> Find(const std::string& target) const;
  bool TakeDrop(Resource& resource);
  RecordSlot Record(const HttpRequestRecord& record);
  void AddSent(RecordSlot slot, int64_t bytes);
  bool SendAll(SOCKET socket, const char* data, size_t size);
  bool SendBody(SOCKET socket, Resource& resource, int64_t offset, int64_t length, RecordSlot slot);
  void ReapFinished();

  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex mutex_;  // guards everything below
  std::map<std::string, std::shared_ptr<Resource>> resources_;
  std::vector<HttpRequestRecord> records_;
  unsigned recordEpoch_ = 0;  // bumped by ResetCounters so late byte counts go nowhere
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace zvtest
