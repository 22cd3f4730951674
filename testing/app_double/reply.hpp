// What the stand-in app writes back when a message arrives: a short script of steps.
//
//   Reply::result({{"decision", "allow"}})                  the ordinary answer
//   Reply::greeting(1)                                      "hello" with another version
//   Reply::line("{\"id\":7}").then(Reply::result(5))        an unrelated line first
//   Reply::result(5).with_id(2.0)                           an id that must not match
//   Reply::result(5).trickled(20ms)                         one byte per write
//   Reply::result(5).after(3s)                              a late answer
//   Reply::greeting().and_close()                           close after the greeting
//   Reply::silence()                                        accept, read, never answer
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/json.hpp"

namespace kestrum::testkit {

class Reply {
 public:
  struct Step {
    enum class Kind { Result, Error, Bytes, Close };
    Kind kind = Kind::Bytes;
    Json value;                             // Result: the "result"; Error: the "error"
    std::optional<Json> id;                 // overrides the request's id
    std::string bytes;                      // Bytes: written exactly
    std::chrono::milliseconds delay{0};     // waited before the step
    std::chrono::milliseconds per_byte{0};  // when set, one byte per write, this far apart
  };

  // {"id":<the request's id>,"jsonrpc":"2.0","result":value}. A notification has no id, so
  // it gets nothing unless with_id() gives one.
  static Reply result(Json value);
  // The answer to "hello": a result with "protocol_version".
  static Reply greeting(Json protocol_version = 0u);
  // {"error":error,"id":...,"jsonrpc":"2.0"}.
  static Reply error(Json error = Json{{"code", -32000}, {"message", "refused"}});
  // The text and one line feed, as they stand (empty lines, trailing text, arrays, ...).
  static Reply line(std::string text);
  // Exactly these bytes: partial lines, invalid UTF-8, lines that never end.
  static Reply bytes(std::string raw);
  // Nothing at all; the connection stays open and later messages are still read.
  static Reply silence();
  // Close the connection.
  static Reply close();

  // These change the last step.
  Reply& with_id(Json id);
  Reply& after(std::chrono::milliseconds delay);
  Reply& trickled(std::chrono::milliseconds per_byte);

  Reply& then(Reply next);
  Reply& and_close() { return then(close()); }

  const std::vector<Step>& steps() const { return steps_; }

 private:
  static Reply of(Step::Kind kind, Json value = nullptr, std::string bytes = {});
  Step& last();

  std::vector<Step> steps_;
};

}  // namespace kestrum::testkit
