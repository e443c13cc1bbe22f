#pragma once
// libcurl, loaded when the first request is made rather than at start-up:
// the library and the TLS, compression and authentication libraries it
// drags in cost several MB and milliseconds that a server which may never
// call the platform (or not yet) should not pay while it starts.
#include <curl/curl.h>

#include <string>

#include "core/result.hpp"

namespace qel::api {

struct CurlLibrary {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* handle);
  CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...);
  void (*easy_cleanup)(CURL* handle);
  void (*easy_reset)(CURL* handle);
  const char* (*easy_strerror)(CURLcode code);
  curl_slist* (*slist_append)(curl_slist* list, const char* text);
  void (*slist_free_all)(curl_slist* list);
  CURLSH* (*share_init)();
  CURLSHcode (*share_setopt)(CURLSH* share, CURLSHoption option, ...);
  CURLSHcode (*share_cleanup)(CURLSH* share);
};

// The loaded and globally initialised library, or why it could not be had.
Result<const CurlLibrary*, std::string> curl_library();

}  // namespace qel::api
