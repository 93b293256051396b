// Starts the port-learning listener of a granted route.
#pragma once

#include <cstdint>

namespace halvyn {

class PortLearningStarter {
 public:
  virtual ~PortLearningStarter() = default;
  // Called on the relay receive thread after the route's receive blocks are
  // written and before "u"/"v" are sent. Must not block on the window thread.
  virtual void StartPortLearning(uint16_t slotPort) = 0;
};

}  // namespace halvyn
