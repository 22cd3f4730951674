#include "hook/deliver.hpp"

#include "hook/fallback.hpp"

namespace kestrum {

Outcome deliver_event(const EventDelivery& d) {
  return app_unreachable(d.kind.blocking, d.session_id, d.paths);
}

}  // namespace kestrum
