#include "tests/ServerFixture.h"

#include <curl/curl.h>
#include <unistd.h>

#include "support/Log.h"
#include "update/RunContext.h"
#include "update/net/FileServer.h"

namespace vestrel::test {

void ServerFixture::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  tree_ =
      std::string(info->test_suite_name()) + "." + info->name() + "." + std::to_string(::getpid());
  std::filesystem::remove_all(serverRoot() / tree_);
  std::filesystem::create_directories(serverRoot() / tree_ / "launcher" / "launcher" / ".launcher");
  setInstallFolder(runContext().state, root());
  useHttps();
  ASSERT_EQ(std::string(vestrel::caFile()), test::caFile())
      << "configure the tests with -DVESTREL_CA_FILE=" << test::caFile();
}

void ServerFixture::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(serverRoot() / tree_, ignored);
  for (const char* fault : {"drop", "drop2", "truncate", "stall"}) {
    std::filesystem::remove_all(serverRoot() / fault / tree_, ignored);
  }
}

void ServerFixture::publishFile(const std::string& relative, const std::string& bytes) const {
  writeFile(serverRoot() / tree_ / "launcher" / "launcher" / relative, bytes);
}

void ServerFixture::publishList(const std::string& name, const std::string& bytes) const {
  publishFile(".launcher/" + name, bytes);
}

void ServerFixture::publishListedTree(const std::string& folders, const Files& files) const {
  std::string fileList, hashList;
  for (const auto& [name, bytes] : files) {
    publishFile(name, bytes);
    fileList += name + "\n";
    hashList += md5Of(bytes) + "\n";
  }
  publishList("udirs.lists", folders);
  publishList("ufile.lists", fileList);
  publishList("uhash.lists", hashList);
}

void ServerFixture::useHttps() const {
  runContext().net.fileServer = httpsBase(tree_ + "/launcher");
}

void ServerFixture::useBriefServer() const {
  runContext().net.fileServer = briefBase(tree_ + "/launcher");
}

void ServerFixture::useFaultServer(const std::string& fault) const {
  // The fault server misbehaves once per path under /<fault>/, so the tree is copied there.
  std::filesystem::create_directories(serverRoot() / fault);
  std::filesystem::copy(
      serverRoot() / tree_, serverRoot() / fault / tree_,
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  runContext().net.fileServer = faultBase(fault + "/" + tree_ + "/launcher");
}

void ServerFixture::useRedirect(const std::string& prefix) const {
  runContext().net.fileServer = httpsBase(prefix + "/" + tree_ + "/launcher");
}

void ServerFixture::acceptDigestOf(const std::string& bytes) const {
  digestPush(runContext().state, md5Of(bytes));
}

void ServerFixture::consumeFault(const std::string& fault, const std::string& relative) const {
  const std::string url = faultBase(fault + "/" + tree_ + "/launcher/launcher/" + relative);
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, test::caFile().c_str());
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION,
      +[](char*, std::size_t size, std::size_t count, void*) { return size * count; });
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
}

int ServerFixture::faultRequests(const std::string& fault, const std::string& relative) const {
  const std::string url =
      faultBase("_requests/" + fault + "/" + tree_ + "/launcher/launcher/" + relative);
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, test::caFile().c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, std::size_t size, std::size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
      });
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return std::atoi(body.c_str());
}

void ServerFixture::startLog() const {
  logStart(install_.path().string());
}

std::string ServerFixture::log() const {
  return withoutStamps(readFile(install_.path() / "installer.log"));
}

}  // namespace vestrel::test
