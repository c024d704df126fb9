// The hosts that serve the launcher tree: the file server the program was built for first,
// then its mirrors (VESTREL_MIRRORS), each a base address whose path is "/launcher", all
// serving the same tree. What they serve is judged the same whichever served it (the listed
// digest, and with keys the signed release), so a host is only a way to the bytes.
//
// Every transfer goes to the run's current host. A failure that is the host's (it cannot be
// reached, it is busy or broken, or it lacks a file the lists name) moves the run on to the
// next host in turn. With somewhere else to go, a host that failed three times in a row
// without saying why is passed over for a minute; a host that asked for time (Retry-After)
// rests that long, at most ten minutes, even when it is the only one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vestrel {

inline constexpr int kHostFailuresInARow = 3;
inline constexpr std::chrono::seconds kHostRest{60};
inline constexpr std::chrono::seconds kLongestRetryAfter{600};
// A wait for a host shorter than this is waited out without a box.
inline constexpr std::chrono::seconds kQuietHostWait{60};
inline constexpr std::size_t kNoHost = static_cast<std::size_t>(-1);

class FileHosts {
 public:
  using Clock = std::chrono::steady_clock;

  // `count` hosts, the primary (0) current.
  explicit FileHosts(std::size_t count = 1);

  std::size_t count() const { return hosts_.size(); }
  // The host the run is on; the one it goes to is the first from there in turn that does not
  // rest, so that a host that rested is gone back to once its rest is over.
  std::size_t current() const { return current_; }

  // The host to send a transfer to now, which lastAsked() then names. kNoHost when every host
  // rests; `back` then says when the first of them may be asked again.
  std::size_t pick(Clock::time_point now, Clock::time_point& back);
  // The same, or the current host when every host rests (what is asked of it then fails).
  std::size_t ask(Clock::time_point now);
  std::size_t lastAsked() const { return lastAsked_; }
  // Of the hosts that asked for a wait (Retry-After) and are still in it, the one back first,
  // and when (`back`); kNoHost when none is.
  std::size_t askedToWait(Clock::time_point now, Clock::time_point& back) const;

  // A failure that is `host`'s, which asked for `wait` (Retry-After) when given. True when
  // the run moves on to another host because of it.
  bool failed(std::size_t host, Clock::time_point now, std::optional<std::chrono::seconds> wait);
  // An answer that is right: the host's failures in a row start again from none.
  void answered(std::size_t host);

 private:
  struct Host {
    int failuresInARow = 0;
    Clock::time_point askedUntil{};  // the wait it asked for
    Clock::time_point restsUntil{};  // that, or its rest after failing in a row
  };
  std::vector<Host> hosts_;
  std::size_t current_ = 0;
  std::size_t lastAsked_ = 0;
};

// A Retry-After value: a number of seconds or an HTTP date (IMF-fixdate, as in "Sun, 06 Nov
// 1994 08:49:37 GMT"), measured from `nowUnixSeconds` and held to kLongestRetryAfter. A date
// already past is no wait. Nothing when the value is neither.
std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::int64_t nowUnixSeconds);

// Full jitter: a wait drawn evenly from 0 to `backOff` by `random` (any 64 bits), so that a
// crowd of installers that failed together does not try again together.
std::chrono::milliseconds jittered(std::chrono::milliseconds backOff, std::uint64_t random);

}  // namespace vestrel
