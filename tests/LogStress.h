// Writes many log records from several threads at once and checks that every record arrived
// whole, once, and in its thread's order. Shared by the Linux and the Windows tests: the two
// systems append to a file in different ways.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/Log.h"

namespace vestrel::test {

// Logs `perThread` records from each of `threads` threads into the log already started, then
// checks `logBytes()` once they are done (line ends may be LF or CR LF).
template <typename ReadLog>
void checkConcurrentRecords(int threads, int perThread, ReadLog logBytes) {
  // Long enough that a torn or overwritten record shows.
  const std::string filler(200, 'x');
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([t, perThread, &filler] {
      for (int i = 0; i < perThread; ++i) {
        logLine("thread %d line %d %s end", t, i, filler.c_str());
      }
    });
  }
  for (std::thread& writer : writers) {
    writer.join();
  }

  const std::string log = logBytes();
  std::vector<int> seen(static_cast<std::size_t>(threads), 0);
  int records = 0;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) {
      end = log.size();
    }
    std::string line = log.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const std::size_t at = line.find("] thread ");
    if (at == std::string::npos) {
      ASSERT_EQ(line.find("thread"), std::string::npos) << "torn record: " << line.substr(0, 80);
      continue;  // the banners
    }
    int thread = -1;
    int index = -1;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(line.c_str() + at, "] thread %d line %d %n", &thread, &index, &consumed),
              2)
        << "torn record: " << line.substr(0, 80);
    ASSERT_TRUE(thread >= 0 && thread < threads);
    ASSERT_EQ(line.substr(at + static_cast<std::size_t>(consumed)), filler + " end")
        << "torn record: " << line.substr(0, 80);
    ASSERT_EQ(index, seen[static_cast<std::size_t>(thread)]++)
        << "a record of thread " << thread << " was lost or came out of order";
    ++records;
  }
  EXPECT_EQ(records, threads * perThread);
}

}  // namespace vestrel::test
