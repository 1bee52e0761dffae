#include "link/peer_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/mutex.h"
#include "vartree/tvar.h"

namespace {

bool TreeLockFreeElsewhere() {
  bool free = false;
  std::thread([&] {
    free = GetTreeLock()->TryEnter();
    if (free) GetTreeLock()->Leave();
  }).join();
  return free;
}

// Lock and unlock arrive on different threads, as handler threads serve them.
TEST(PeerTreeLock, HeldAcrossThreadsAndOpsPassMeanwhile) {
  PeerTreeLock peer;
  EXPECT_EQ(peer.Unlock(), 0);
  std::thread([&] { EXPECT_EQ(peer.Lock(), 1); }).join();
  EXPECT_FALSE(TreeLockFreeElsewhere());
  std::thread([&] { EXPECT_EQ(peer.Lock(), 1); }).join();  // nested
  std::atomic<bool> ran{false};
  std::thread([&] {
    peer.Run([&] {
      CtVarLock lock;  // passes: runs where the lock is held
      ran = true;
    });
  }).join();
  EXPECT_TRUE(ran);
  std::thread([&] { EXPECT_EQ(peer.Unlock(), 1); }).join();
  EXPECT_FALSE(TreeLockFreeElsewhere());
  std::thread([&] { EXPECT_EQ(peer.Unlock(), 1); }).join();
  EXPECT_TRUE(TreeLockFreeElsewhere());
  bool direct = false;
  peer.Run([&] { direct = true; });
  EXPECT_TRUE(direct);
}

TEST(PeerTreeLock, DestructionLeavesAHeldLock) {
  {
    PeerTreeLock peer;
    peer.Lock();
    EXPECT_FALSE(TreeLockFreeElsewhere());
  }
  EXPECT_TRUE(TreeLockFreeElsewhere());
}

}  // namespace
