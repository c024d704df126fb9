// How much a run may write: no file past kMaxFileBytes (a signed release's own size for each
// file instead), and never so much that the install
// folder's volume keeps less than kDiskReserve free (the player's system needs room too).
//
// Transfers take what they are about to write from one budget that every transfer of the run
// shares (in the run's context), so that parallel downloads cannot each count the same free
// space. The budget is measured again whenever it runs short, so space freed meanwhile is
// found.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace vestrel {

// A game's pack files pass 4 GiB; no body of an unsigned release grows past this.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{64} << 30;
inline constexpr std::uint64_t kDiskReserve = std::uint64_t{64} << 20;

class DiskBudget {
 public:
  // Takes `bytes` from the budget of the volume that holds `narrowFolder`. False, with how
  // many bytes are missing in `shortBy`, when writing them would leave less than the reserve.
  // A volume whose free space cannot be measured is never refused.
  bool take(const std::string& narrowFolder, std::uint64_t bytes, std::uint64_t& shortBy);
  // Gives back what was taken but not written.
  void giveBack(std::uint64_t bytes);

 private:
  bool measure(const std::string& narrowFolder);

  std::mutex mutex_;
  std::string folder_;       // the folder the budget was measured for
  std::int64_t budget_ = 0;  // bytes that may still be written above the reserve
};

// True for the system's error numbers that mean "no room": a full volume or a used-up quota.
bool isNoSpaceError(int error);

}  // namespace vestrel
