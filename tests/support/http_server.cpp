#include "tests/support/http_server.h"

#include <winsock2.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace harvester::testing {
namespace {

constexpr DWORD kSlice = 20;               // every wait of the server is cut into slices this long
constexpr DWORD kLongestHoldMs = 60000;    // a never-ending response gives up after this
constexpr DWORD kHeadTimeoutMs = 10000;    // a request head must arrive within this

class Socket {
 public:
  explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

// True when s becomes readable within ms.
bool Readable(SOCKET s, DWORD ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
  return select(0, &set, nullptr, nullptr, &wait) == 1;
}

bool SendAll(SOCKET s, std::string_view data) {
  while (!data.empty()) {
    const int sent = send(s, data.data(), static_cast<int>(std::min<size_t>(data.size(), 65536)), 0);
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

const char* ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

std::string RecordedRequest::Header(std::string_view name) const {
  const std::string wanted = LowerCase(name);
  for (const std::string& line : headers) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || LowerCase(std::string_view(line).substr(0, colon)) != wanted) continue;
    size_t value = colon + 1;
    while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) ++value;
    return line.substr(value);
  }
  return {};
}

std::string RecordedRequest::Target() const {
  // "GET /path?query HTTP/1.1": the target runs from the first space to the next one.
  const size_t start = requestLine.find(' ');
  if (start == std::string::npos) return {};
  const size_t end = requestLine.find(' ', start + 1);
  return requestLine.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

std::string RecordedRequest::Path() const {
  const std::string target = Target();
  return target.substr(0, target.find('?'));
}

HttpServer::HttpServer(unsigned short port) : listener_(INVALID_SOCKET) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  int length = sizeof address;
  if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, SOMAXCONN) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener != INVALID_SOCKET) closesocket(listener);
    return;
  }
  listener_ = listener;
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::list<Connection> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (Connection& connection : connections) connection.thread.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  if (port_ != 0 || listener_ != INVALID_SOCKET) WSACleanup();
}

std::string HttpServer::Url(std::string_view target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

void HttpServer::Route(std::string path, Response response) {
  std::lock_guard lock(mutex_);
  for (auto& route : routes_) {
    if (route.first == path) {
      route.second = std::move(response);
      return;
    }
  }
  routes_.emplace_back(std::move(path), std::move(response));
}

void HttpServer::SetHandler(RequestHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<RecordedRequest> HttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t HttpServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

bool HttpServer::WaitForRequests(std::size_t count, DWORD timeoutMs) const {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (RequestCount() < count) {
    if (GetTickCount64() >= end) return false;
    Sleep(5);
  }
  return true;
}

void HttpServer::AcceptLoop() {
  while (!stopping_) {
    if (!Readable(listener_, kSlice)) continue;
    const SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    JoinFinishedConnections();
    std::lock_guard lock(mutex_);
    Connection& connection = connections_.emplace_back();
    connection.thread = std::thread([this, client, &connection] {
      Serve(client);
      connection.finished = true;
    });
  }
}

void HttpServer::JoinFinishedConnections() {
  std::list<Connection> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (it->finished) finished.splice(finished.end(), connections_, it);
      it = next;
    }
  }
  for (Connection& connection : finished) connection.thread.join();
}

bool HttpServer::PauseUnlessStopping(DWORD ms) const {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!stopping_) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return true;
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kSlice, end - now)));
  }
  return false;
}

Response HttpServer::ResponseFor(const RecordedRequest& request) const {
  const std::string path = request.Path();
  RequestHandler handler;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [routePath, response] : routes_)
      if (routePath == path) return response;
    handler = handler_;
  }
  if (handler) return handler(request);  // outside the lock: it may take its time
  Response missing;
  missing.status = 404;
  missing.body = "no such page";
  return missing;
}

void HttpServer::Serve(UINT_PTR clientSocket) {
  Socket client(clientSocket);
  const SOCKET s = client.get();
  std::string received;
  const ULONGLONG headDeadline = GetTickCount64() + kHeadTimeoutMs;
  size_t headEnd;
  while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
    if (stopping_ || GetTickCount64() >= headDeadline) return;
    if (!Readable(s, kSlice)) continue;
    char buffer[4096];
    const int got = recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    received.append(buffer, static_cast<size_t>(got));
  }

  RecordedRequest request;
  size_t lineStart = 0;
  for (size_t lineEnd; (lineEnd = received.find("\r\n", lineStart)) <= headEnd; lineStart = lineEnd + 2) {
    std::string line = received.substr(lineStart, lineEnd - lineStart);
    if (request.requestLine.empty() && lineStart == 0)
      request.requestLine = std::move(line);
    else
      request.headers.push_back(std::move(line));
    if (lineEnd == headEnd) break;
  }
  // A declared body is read (bounded by the head's deadline) so its length is what arrived.
  const size_t declared = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
  size_t body = received.size() - (headEnd + 4);
  while (body < declared && !stopping_ && GetTickCount64() < headDeadline) {
    if (!Readable(s, kSlice)) continue;
    char buffer[4096];
    const int got = recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    body += static_cast<size_t>(got);
  }
  request.bodyLength = body;
  const Response response = ResponseFor(request);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }

  if (response.delayMs && !PauseUnlessStopping(response.delayMs)) return;
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonOf(response.status) +
                     "\r\nContent-Type: " + response.contentType +
                     "\r\nContent-Length: " + std::to_string(response.body.size()) + "\r\n";
  for (const std::string& header : response.headers) head += header + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (response.ending == Response::Ending::kComplete) {
    SendAll(s, head + response.body);
    shutdown(s, SD_SEND);
    return;
  }
  if (response.ending == Response::Ending::kTrickle) {
    if (!SendAll(s, head)) return;
    for (char byte : response.body) {
      if (!PauseUnlessStopping(response.trickleMs) || !SendAll(s, std::string(1, byte))) return;
    }
    shutdown(s, SD_SEND);
    return;
  }
  if (!SendAll(s, head + response.body.substr(0, response.body.size() / 2))) return;
  if (response.ending == Response::Ending::kCloseMidBody) return;  // the Socket closes it
  // Never completes: hold the connection until the client gives up or the server stops.
  const ULONGLONG holdEnd = GetTickCount64() + kLongestHoldMs;
  while (!stopping_ && GetTickCount64() < holdEnd) {
    if (!Readable(s, kSlice)) continue;
    char buffer[256];
    if (recv(s, buffer, sizeof buffer, 0) <= 0) return;
  }
}

}  // namespace harvester::testing
