// A libcurl multi handle that is cleaned up with its owner.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace vestrel {

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

}  // namespace vestrel
