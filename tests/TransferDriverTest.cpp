// The multi-handle driver that the lists and the parallel downloads share: transfers that end
// in any order are handed back each as its own, and a stop ends a transfer that would
// otherwise never end.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "tests/ServerFixture.h"
#include "update/net/Transfer.h"
#include "update/net/TransferDriver.h"

namespace vestrel {
namespace {

std::size_t keepBody(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

struct Get {
  EasyHandle easy{curl_easy_init()};
  std::string body;
  explicit Get(const std::string& url) {
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_CAINFO, test::caFile().c_str());
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
  }
};

class TransferDriverTest : public test::ServerFixture {
 protected:
  std::string url(const std::string& relative) const {
    return test::httpsBase(tree() + "/launcher/launcher/" + relative);
  }
};

TEST_F(TransferDriverTest, EachEndIsItsOwnTransfersWhateverOrderTheyEndIn) {
  publishFile("large.bin", std::string(4 << 20, 'L'));
  publishFile("small.bin", "small");
  // Started first, ended last: the large body, then a handshake that fails, a small body
  // and an answer that is no file.
  std::vector<std::unique_ptr<Get>> gets;
  gets.push_back(std::make_unique<Get>(url("large.bin")));
  gets.push_back(std::make_unique<Get>(test::plainHttpBase(tree() + "/launcher/launcher/x")));
  gets.push_back(std::make_unique<Get>(url("small.bin")));
  gets.push_back(std::make_unique<Get>(url("missing.bin")));
  std::vector<CURL*> handles;
  for (const auto& get : gets) {
    handles.push_back(get->easy.get());
  }
  std::vector<TransferEnd> ends;
  ASSERT_TRUE(runTransfers(handles, ends, std::stop_source().get_token()));
  ASSERT_EQ(ends.size(), 4u);
  for (std::size_t i = 0; i < ends.size(); ++i) {
    EXPECT_EQ(ends[i].easy, handles[i]) << i;
    EXPECT_EQ(ends[i].multi, CURLM_OK) << i;
  }
  EXPECT_EQ(ends[0].result, CURLE_OK);
  EXPECT_EQ(gets[0]->body.size(), 4u << 20);
  EXPECT_NE(ends[1].result, CURLE_OK);
  EXPECT_EQ(ends[2].result, CURLE_OK);
  EXPECT_EQ(gets[2]->body, "small");
  long status = 0;
  curl_easy_getinfo(handles[3], CURLINFO_RESPONSE_CODE, &status);
  EXPECT_EQ(ends[3].result, CURLE_OK);
  EXPECT_EQ(status, 404);
}

TEST_F(TransferDriverTest, StopEndsAStalledTransferAndAHandleThatFailedTakesNothing) {
  publishFile("held.bin", std::string(1 << 20, 'H'));
  useFaultServer("stall");
  Get held(test::faultBase("stall/" + tree() + "/launcher/launcher/held.bin"));
  std::stop_source stop;
  // The stop comes once the server holds the request, from another thread, as the window's
  // close button does.
  std::jthread closer([&] {
    while (faultRequests("stall", "held.bin") == 0) {
      std::this_thread::yield();
    }
    stop.request_stop();
  });
  std::vector<TransferEnd> ends;
  EXPECT_FALSE(runTransfers({held.easy.get()}, ends, stop.get_token()));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].result, CURLE_ABORTED_BY_CALLBACK);

  // Without a multi handle nothing is taken in, and stepping hands back nothing.
  TransferDriver broken(MultiHandle(nullptr), std::stop_source().get_token());
  Get other(url("held.bin"));
  EXPECT_FALSE(broken.add(other.easy.get()));
  EXPECT_EQ(broken.running(), 0u);
  EXPECT_EQ(broken.step([](const TransferEnd&) { ADD_FAILURE(); }), 0u);
}

}  // namespace
}  // namespace vestrel
