#pragma once
// A loopback HTTP/1.1 server for the test executables and the demo site: 127.0.0.1 on a port
// the system picks or a fixed one, served from its own thread, one connection per request. It
// records every request as it arrived and answers each path with the response given for it,
// or with what a handler makes of the request.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace harvester::testing {

struct RecordedRequest {
  std::string requestLine;           // exact bytes, without CR LF
  std::vector<std::string> headers;  // each header line in order, exact bytes, without CR LF
  std::size_t bodyLength = 0;        // bytes received after the head
  // The request target: what lies between the method and the protocol ("/path?query").
  std::string Target() const;
  // The target up to '?'.
  std::string Path() const;
  // The value of the first header with that name (names compared without regard to case).
  std::string Header(std::string_view name) const;
};

struct Response {
  enum class Ending {
    kComplete,      // the whole body, then the connection is closed
    kNeverComplete, // headers and the first half of the body, then silence until the server stops
    kCloseMidBody,  // headers and the first half of the body, then the connection is closed
    kTrickle,       // headers, then the body one byte every trickleMs
  };
  int status = 200;
  std::string body;
  DWORD delayMs = 0;  // before anything is sent
  Ending ending = Ending::kComplete;
  std::string contentType = "text/html; charset=utf-8";
  std::vector<std::string> headers;  // further header lines, without CR LF ("Location: /x")
  DWORD trickleMs = 1000;
};

// Makes the answer to a request that no route matched.
using RequestHandler = std::function<Response(const RecordedRequest& request)>;

class HttpServer {
 public:
  HttpServer() : HttpServer(0) {}
  // Listens on 127.0.0.1:port (0: a port the system picks); Started() is false when the port
  // cannot be had, for example because another server holds it.
  explicit HttpServer(unsigned short port);
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();  // stops every connection and joins every thread

  bool Started() const { return port_ != 0; }
  unsigned short Port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by target (which begins with '/').
  std::string Url(std::string_view target) const;

  // Answers requests whose path (the target up to '?') equals path, from now on in place of an
  // earlier response for it; other paths go to the handler, or get a 404 when there is none.
  void Route(std::string path, Response response);
  void SetHandler(RequestHandler handler);

  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  // Waits, at most timeoutMs, until count requests have been recorded.
  bool WaitForRequests(std::size_t count, DWORD timeoutMs) const;

  // Joins the threads of the connections that have ended (each holds a thread handle until then).
  void JoinFinishedConnections();

 private:
  void AcceptLoop();
  void Serve(UINT_PTR client);
  Response ResponseFor(const RecordedRequest& request) const;
  bool PauseUnlessStopping(DWORD ms) const;

  struct Connection {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  UINT_PTR listener_;
  unsigned short port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, Response>> routes_;
  RequestHandler handler_;
  std::vector<RecordedRequest> requests_;
  std::list<Connection> connections_;  // a server that runs for long joins the finished ones
  std::thread acceptor_;
};

}  // namespace harvester::testing
