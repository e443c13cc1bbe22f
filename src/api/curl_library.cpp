#include "api/curl_library.hpp"

#include <dlfcn.h>

#include <mutex>

namespace qel::api {
namespace {

template <class F>
bool bind(void* handle, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
  return out != nullptr;
}

Result<const CurlLibrary*, std::string> load() {
  static CurlLibrary lib;
#ifdef __APPLE__
  const char* names[] = {"libcurl.4.dylib", "libcurl.dylib"};
#else
  const char* names[] = {"libcurl.so.4", "libcurl.so"};
#endif
  void* handle = nullptr;
  std::string error;
  for (const char* name : names) {
    handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle) break;
    if (const char* why = dlerror()) error = why;
  }
  if (!handle) return "cannot load libcurl: " + error;
  bool ok = bind(handle, "curl_global_init", lib.global_init) && bind(handle, "curl_easy_init", lib.easy_init) &&
            bind(handle, "curl_easy_setopt", lib.easy_setopt) &&
            bind(handle, "curl_easy_perform", lib.easy_perform) &&
            bind(handle, "curl_easy_getinfo", lib.easy_getinfo) &&
            bind(handle, "curl_easy_cleanup", lib.easy_cleanup) &&
            bind(handle, "curl_easy_reset", lib.easy_reset) &&
            bind(handle, "curl_easy_strerror", lib.easy_strerror) &&
            bind(handle, "curl_slist_append", lib.slist_append) &&
            bind(handle, "curl_slist_free_all", lib.slist_free_all) &&
            bind(handle, "curl_share_init", lib.share_init) &&
            bind(handle, "curl_share_setopt", lib.share_setopt) &&
            bind(handle, "curl_share_cleanup", lib.share_cleanup);
  if (!ok) return std::string("libcurl lacks a required function");
  CURLcode init = lib.global_init(CURL_GLOBAL_DEFAULT);
  if (init != CURLE_OK) return std::string("libcurl initialisation failed: ") + lib.easy_strerror(init);
  return &lib;
}

}  // namespace

Result<const CurlLibrary*, std::string> curl_library() {
  static std::once_flag once;
  static Result<const CurlLibrary*, std::string> loaded = std::string("not loaded");
  std::call_once(once, [] { loaded = load(); });
  return loaded;
}

}  // namespace qel::api
