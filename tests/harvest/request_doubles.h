#pragma once
// Doubles of the platform's request object, registered in this process for its class
// (CoRegisterClassObject) so that the program's own Create gets them. Each wraps a request
// object of the platform, records every call it gets, and in the documented modes answers as
// Microsoft documents the object rather than as Wine 8 does.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/stand_ins.h"

namespace harvester::testing {

enum class RequestMode {
  kPlatform,           // no double: the platform's own object
  kWine,               // the platform's object (Wine 8's here) as it is, its calls recorded
  kDocumented,         // "WaitForResponse" true once the response has been received, false only
                       // after the whole time-out, dispatching no message; "SetTimeouts" refuses
                       // values below -1; "Abort" does not end a wait in progress; a wait before
                       // "Send" fails at once
  kDocumentedPumping,  // the same, its wait dispatching the thread's messages meanwhile, at least
                       // once on every call, also with a time-out of 0
};

// A fault a double adds to its mode.
enum class RequestFault {
  kNone,
  kSendFails,            // documented modes: "Send" fails without sending, and "WaitForResponse"
                         // then answers false for ever
  kOpenAfterAbortFails,  // Wine 8's mode: "Open" after "Abort" fails, so the object is not sent
                         // again and no end signal comes of it
};

inline constexpr RequestMode kRequestModes[] = {RequestMode::kPlatform, RequestMode::kWine, RequestMode::kDocumented,
                                                RequestMode::kDocumentedPumping};
// The mode's name, for the names of parameterised tests.
std::string ModeName(const ::testing::TestParamInfo<RequestMode>& mode);

struct RequestCall {
  std::string member;            // "Open", "WaitForResponse", "ResponseBody", ...
  std::string url;               // the address, for "Open"
  bool afterAbort = false;       // the object had been aborted
  bool afterFailedWait = false;  // a wait of the object had failed
  bool responseComplete = false; // for "ResponseBody": the object held the complete response
};

// The calls one object got, in order.
using RequestLog = std::vector<RequestCall>;

// While it lives, the request objects the program makes are doubles of the mode.
class RequestDoubles {
 public:
  explicit RequestDoubles(RequestMode mode, RequestFault fault = RequestFault::kNone);
  RequestDoubles(const RequestDoubles&) = delete;
  RequestDoubles& operator=(const RequestDoubles&) = delete;
  ~RequestDoubles();

  bool Registered() const { return mode_ == RequestMode::kPlatform || (standIn_ && standIn_->Registered()); }
  // False for the platform's own object, whose calls nobody records.
  bool Recording() const { return mode_ != RequestMode::kPlatform; }
  // The calls of the object opened last for url; empty when there is none.
  RequestLog CallsFor(const std::string& url) const;
  // Where the calls are recorded: the request for url was given up, aborted and never read.
  void ExpectGivenUp(const std::string& url) const;
  // What the calls of all objects made so far break of the fetch's rules, one line each: a body
  // read of a response that was not complete, after a failed wait or after "Abort"; in the
  // documented modes, an object opened or sent again, or asked anything after its "Abort".
  std::string BrokenRules() const;

 private:
  RequestMode mode_;
  std::shared_ptr<std::vector<std::shared_ptr<RequestLog>>> logs_ =
      std::make_shared<std::vector<std::shared_ptr<RequestLog>>>();
  std::unique_ptr<ClassStandIn> standIn_;
};

}  // namespace harvester::testing
