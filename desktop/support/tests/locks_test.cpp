#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/locks.h"

namespace om {
namespace {

// Several threads run a read-modify-write with a yield in the middle; only
// mutual exclusion keeps the count and the "inside" flag straight.
template <class Body>
void hammer(Body body, int threads = 4, int rounds = 2000) {
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) body();
    });
  for (auto& th : pool) th.join();
}

TEST(Locks, CriticalSectionExcludes) {
  TDsCriticalSection cs;
  int count = 0;
  bool inside = false, overlap = false;
  hammer([&] {
    cs.Enter();
    if (inside) overlap = true;
    inside = true;
    int c = count;
    std::this_thread::yield();
    count = c + 1;
    inside = false;
    cs.Leave();
  });
  EXPECT_FALSE(overlap);
  EXPECT_EQ(8000, count);
}

TEST(Locks, InterfaceReferenceHoldsTheLock) {
  TDsIntfCriticalSection lock;
  IDsLockInterface* intf = &lock;
  int count = 0;
  bool inside = false, overlap = false;
  hammer([&] {
    TDsLockRef held(intf);
    if (inside) overlap = true;
    inside = true;
    int c = count;
    std::this_thread::yield();
    count = c + 1;
    inside = false;
  });
  EXPECT_FALSE(overlap);
  EXPECT_EQ(8000, count);
  EXPECT_EQ(0, intf->_AddRef());
  EXPECT_EQ(0, intf->_AddRef());  // re-entrant on the same thread
  EXPECT_EQ(0, intf->_Release());
  EXPECT_EQ(0, intf->_Release());
  TDsLockRef none(nullptr);  // an empty reference holds nothing
}

}  // namespace
}  // namespace om
