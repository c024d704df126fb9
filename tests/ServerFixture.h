// A test fixture with an install folder of its own and a file-server tree of its own on the
// loopback server, so that tests can run side by side.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/TestServer.h"
#include "tests/TestSupport.h"

namespace vestrel::test {

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The install root: '/'-separated, ending in '/'.
  std::string root() const { return install_.root(); }
  std::filesystem::path installDir() const { return install_.path(); }

  // This test's tree on the server (below it, "launcher/" holds the files and
  // "launcher/.launcher/" the lists).
  std::string tree() const { return tree_; }
  void publishFile(const std::string& relative, const std::string& bytes) const;
  void publishList(const std::string& name, const std::string& bytes) const;
  // Publishes the files and the three lists that name them: `folders` (one per line), the
  // files, and each file's digest.
  using Files = std::vector<std::pair<std::string, std::string>>;
  void publishListedTree(const std::string& folders, const Files& files) const;
  // Points the fetcher at this tree on the normal, plain-HTTP or fault port.
  void useHttps() const;
  void useBriefServer() const;
  // "drop" (once), "drop2" (twice), "truncate" (once) or "stall" (always).
  void useFaultServer(const std::string& fault) const;
  // Points the fetcher at this tree behind one of the regular server's redirecting prefixes
  // ("redirect", "to-mirror", "to-http", "loop").
  void useRedirect(const std::string& prefix) const;
  // Lets a file with these bytes count as correct, as a listed digest does.
  void acceptDigestOf(const std::string& bytes) const;
  // Uses up the fault server's one misbehaving answer for a path of this tree.
  void consumeFault(const std::string& fault, const std::string& relative) const;
  // How many requests the fault server has had for a path of this tree.
  int faultRequests(const std::string& fault, const std::string& relative) const;

  // Starts this test's log in the install folder and reads it back without timestamps.
  void startLog() const;
  std::string log() const;

  RecordingFakes fakes_;

 private:
  TempDir install_;
  std::string tree_;
};

}  // namespace vestrel::test
