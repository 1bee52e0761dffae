#include "netmsg/lum_msg.h"

namespace {
// Handed out for an index out of range; thread_local so that a caller who writes into it cannot
// disturb another thread.
thread_local CLumVariant t_missing;
}  // namespace

CLumVariant& CLumMsg::Get(int index) {
  if (index < 0 || index >= Size()) {
    t_missing = CLumVariant();
    return t_missing;
  }
  return values_[index];
}

const CLumVariant& CLumMsg::Get(int index) const {
  return const_cast<CLumMsg*>(this)->Get(index);
}
