// The loopback test server itself: requests recorded byte for byte, answers per path.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/http_server.h"

namespace harvester {
namespace {

using testing::HttpServer;
using testing::Response;

// Sends raw bytes to the server and returns everything it answers until it closes (bounded).
std::string Exchange(const HttpServer& server, const std::string& bytes) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(server.Port());
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size())) {
    DWORD timeout = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    char buffer[1024];
    for (int got; (got = recv(s, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(got));
  }
  closesocket(s);
  return answer;
}

TEST(HttpServer, RecordsTheRequestExactlyAsItArrived) {
  HttpServer server;
  ASSERT_TRUE(server.Started());
  Response page;
  page.body = "ok body";
  server.Route("/form", page);
  const std::string answer = Exchange(server,
      "POST /form?a=1&b=%20 HTTP/1.1\r\nHost: x\r\nx-odd:  two  spaces \r\nContent-Length: 5\r\n\r\nhello");
  EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.substr(answer.size() - 7), "ok body");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "POST /form?a=1&b=%20 HTTP/1.1");
  const std::vector<std::string> headers = {"Host: x", "x-odd:  two  spaces ", "Content-Length: 5"};
  EXPECT_EQ(requests[0].headers, headers);
  EXPECT_EQ(requests[0].bodyLength, 5u);
  EXPECT_EQ(requests[0].Header("X-ODD"), "two  spaces ");
  EXPECT_EQ(requests[0].Header("missing"), "");
}

TEST(HttpServer, AnswersPerPathWithStatusAndEndings) {
  HttpServer server;
  ASSERT_TRUE(server.Started());
  Response error;
  error.status = 500;
  error.body = "boom";
  server.Route("/error", error);
  Response cut;
  cut.body = "0123456789";
  cut.ending = Response::Ending::kCloseMidBody;
  server.Route("/cut", cut);

  std::string answer = Exchange(server, "GET /error HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 500");
  EXPECT_EQ(answer.substr(answer.size() - 4), "boom");
  answer = Exchange(server, "GET /nowhere?x HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 404");
  answer = Exchange(server, "GET /cut HTTP/1.1\r\n\r\n");
  EXPECT_NE(answer.find("Content-Length: 10\r\n"), std::string::npos);
  EXPECT_EQ(answer.substr(answer.size() - 5), "01234");
  EXPECT_TRUE(server.WaitForRequests(3, 1000));
}

TEST(HttpServer, StopsWhileAnAnswerNeverCompletes) {
  SOCKET s = INVALID_SOCKET;
  ULONGLONG start = 0;
  {
    HttpServer server;
    ASSERT_TRUE(server.Started());
    Response hang;
    hang.body = "abcd";
    hang.ending = Response::Ending::kNeverComplete;
    server.Route("/hang", hang);
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);  // after the server has started Winsock
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server.Port());
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const char request[] = "GET /hang HTTP/1.1\r\n\r\n";
    send(s, request, sizeof request - 1, 0);
    EXPECT_TRUE(server.WaitForRequests(1, 2000));
    start = GetTickCount64();  // the client stays connected: the destructor must end the hold
  }
  EXPECT_LT(GetTickCount64() - start, 1000u);
  closesocket(s);
}

TEST(HttpServer, HandlerAnswersWhatNoRouteTakes) {
  HttpServer server;
  ASSERT_TRUE(server.Started());
  Response fixed;
  fixed.body = "fixed";
  server.Route("/fixed", fixed);
  server.SetHandler([](const testing::RecordedRequest& request) {
    Response made;
    made.status = request.Path() == "/teapot" ? 500 : 200;
    made.body = "[" + request.Target() + "]";
    return made;
  });
  std::string answer = Exchange(server, "GET /fixed?x=1 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.substr(answer.size() - 5), "fixed");
  answer = Exchange(server, "GET /any/where?a=1&b=2 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.substr(answer.size() - 20), "[/any/where?a=1&b=2]");
  answer = Exchange(server, "GET /teapot HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 500");
  ASSERT_TRUE(server.WaitForRequests(3, 1000));
  EXPECT_EQ(server.Requests()[1].Path(), "/any/where");
}

TEST(HttpServer, ListensOnAFixedPortThatNoOtherServerHolds) {
  unsigned short port = 0;
  {
    HttpServer probe;  // a port the system just gave out, free again once the probe has gone
    ASSERT_TRUE(probe.Started());
    port = probe.Port();
  }
  HttpServer fixed(port);
  ASSERT_TRUE(fixed.Started());
  EXPECT_EQ(fixed.Port(), port);
  EXPECT_EQ(fixed.Url("/a"), "http://127.0.0.1:" + std::to_string(port) + "/a");
  EXPECT_EQ(Exchange(fixed, "GET /a HTTP/1.1\r\n\r\n").substr(0, 12), "HTTP/1.1 404");
  HttpServer second(port);
  EXPECT_FALSE(second.Started());
  EXPECT_EQ(second.Port(), 0);
}

TEST(HttpServer, ServesManyConnectionsOneAfterAnother) {
  HttpServer server;
  ASSERT_TRUE(server.Started());
  Response page;
  page.body = "ok";
  server.Route("/p", page);
  for (int i = 0; i < 60; ++i) ASSERT_EQ(Exchange(server, "GET /p HTTP/1.1\r\n\r\n").substr(0, 15), "HTTP/1.1 200 OK") << i;
  EXPECT_EQ(server.RequestCount(), 60u);
}

}  // namespace
}  // namespace harvester
