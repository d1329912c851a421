#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/locks.h"

namespace om {
namespace {

// Several threads run a read-modify-write with a yield in the middle, each
// time through guarded(step); only mutual exclusion keeps the count and the
// "inside" flag straight.
template <class Guarded>
void expectExclusion(Guarded guarded, int threads = 4, int rounds = 2000) {
  int count = 0;
  bool inside = false, overlap = false;
  auto step = [&] {
    if (inside) overlap = true;
    inside = true;
    int c = count;
    std::this_thread::yield();
    count = c + 1;
    inside = false;
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) guarded(step);
    });
  for (auto& th : pool) th.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(threads * rounds, count);
}

TEST(Locks, CriticalSectionExcludes) {
  TDsCriticalSection cs;
  expectExclusion([&](auto step) {
    cs.Enter();
    step();
    cs.Leave();
  });
}

TEST(Locks, InterfaceReferenceHoldsTheLock) {
  TDsIntfCriticalSection lock;
  IDsLockInterface* intf = &lock;
  expectExclusion([&](auto step) {
    TDsLockRef held(intf);
    step();
  });
  EXPECT_EQ(0, intf->_AddRef());
  EXPECT_EQ(0, intf->_AddRef());  // re-entrant on the same thread
  EXPECT_EQ(0, intf->_Release());
  EXPECT_EQ(0, intf->_Release());
  TDsLockRef none(nullptr);  // an empty reference holds nothing
}

}  // namespace
}  // namespace om
