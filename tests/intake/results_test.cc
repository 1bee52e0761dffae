// Result intake of the client: callback, order and the results rows of the dispatch.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "link/server_message_ids.h"
#include "link/vel_app_client.h"

namespace {

struct Calls {
  int count = 0;
};

TEST(ResultCallbackTest, CallsTheHostAndSwallowsWhatItThrows) {
  CVelAppClient client;
  client.CallResultCallback();  // nothing set: nothing happens
  Calls calls;
  EXPECT_EQ(client.SetResultsCallback([](void* a) { ++static_cast<Calls*>(a)->count; }, &calls), 1);
  client.CallResultCallback();
  EXPECT_EQ(calls.count, 1);
  client.SetResultsCallback(
      [](void* a) {
        ++static_cast<Calls*>(a)->count;
        throw std::runtime_error("host failure");
      },
      &calls);
  EXPECT_NO_THROW(client.CallResultCallback());
  EXPECT_EQ(calls.count, 2);
}

TEST(ResultCallbackTest, BothResultsMessagesReachTheCallback) {
  CVelAppClient client;
  Calls calls;
  client.SetResultsCallback([](void* a) { ++static_cast<Calls*>(a)->count; }, &calls);
  for (int id : {kMsgResults, kMsgResultsHistory}) {
    CLumMsg request(id), reply;
    client.OnNetMessage(&request, &reply);
  }
  EXPECT_EQ(calls.count, 2);
}

}  // namespace
