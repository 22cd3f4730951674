#include "testing/app_double/reply.hpp"

#include <stdexcept>

namespace kestrum::testkit {

Reply Reply::of(Step::Kind kind, Json value, std::string bytes) {
  Reply reply;
  Step& step = reply.steps_.emplace_back();
  step.kind = kind;
  step.value = std::move(value);
  step.bytes = std::move(bytes);
  return reply;
}

Reply Reply::result(Json value) {
  return of(Step::Kind::Result, std::move(value));
}

Reply Reply::greeting(Json protocol_version) {
  Json answer = Json::object();
  answer["protocol_version"] = std::move(protocol_version);
  return result(std::move(answer));
}

Reply Reply::error(Json error) {
  return of(Step::Kind::Error, std::move(error));
}

Reply Reply::line(std::string text) {
  return bytes(std::move(text) + "\n");
}

Reply Reply::bytes(std::string raw) {
  return of(Step::Kind::Bytes, nullptr, std::move(raw));
}

Reply Reply::silence() {
  return Reply();
}

Reply Reply::close() {
  return of(Step::Kind::Close);
}

Reply::Step& Reply::last() {
  // A script error of the test itself, not a condition of the app.
  if (steps_.empty()) throw std::logic_error("Reply: no step to change");
  return steps_.back();
}

Reply& Reply::with_id(Json id) {
  last().id = std::move(id);
  return *this;
}

Reply& Reply::after(std::chrono::milliseconds delay) {
  last().delay = delay;
  return *this;
}

Reply& Reply::trickled(std::chrono::milliseconds per_byte) {
  last().per_byte = per_byte;
  return *this;
}

Reply& Reply::then(Reply next) {
  for (Step& step : next.steps_) steps_.push_back(std::move(step));
  return *this;
}

}  // namespace kestrum::testkit
