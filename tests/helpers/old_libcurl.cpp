// A libcurl.so.4 that behaves as libcurl before 7.85, which lacks CURLOPT_PROTOCOLS_STR: it
// refuses that option and passes every other call to the system's libcurl.
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdlib>

namespace {

void* real() {
  static void* const library = dlopen(MUVRA_REAL_LIBCURL, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::abort();
  }
  return library;
}

template <typename Function>
Function realFunction(const char* name) {
  void* const found = dlsym(real(), name);
  if (found == nullptr) {
    std::abort();
  }
  return reinterpret_cast<Function>(found);
}

// Every option's value and every information's destination is one 64-bit argument on x86-64:
// a long, a pointer or a curl_off_t.
template <typename Kind>
CURLcode forwardOne(const char* name, CURL* handle, Kind kind, std::va_list values) {
  void* const value = va_arg(values, void*);
  return realFunction<CURLcode (*)(CURL*, Kind, ...)>(name)(handle, kind, value);
}

}  // namespace

extern "C" {

// How many times the option was refused: the test reads it to know this library was used.
__attribute__((visibility("default"))) int muvra_refused_protocol_strings = 0;

#define MUVRA_FORWARD(result, name, parameters, arguments)                  \
  __attribute__((visibility("default"))) result name parameters {           \
    static const auto function = realFunction<result(*) parameters>(#name); \
    return function arguments;                                              \
  }

MUVRA_FORWARD(CURLcode, curl_global_init, (long flags), (flags))
MUVRA_FORWARD(CURL*, curl_easy_init, (), ())
MUVRA_FORWARD(void, curl_easy_cleanup, (CURL * handle), (handle))
MUVRA_FORWARD(curl_slist*, curl_slist_append, (curl_slist * list, const char* line), (list, line))
MUVRA_FORWARD(void, curl_slist_free_all, (curl_slist * list), (list))
MUVRA_FORWARD(CURLM*, curl_multi_init, (), ())
MUVRA_FORWARD(CURLMcode, curl_multi_add_handle, (CURLM * multi, CURL* handle), (multi, handle))
MUVRA_FORWARD(CURLMcode, curl_multi_remove_handle, (CURLM * multi, CURL* handle), (multi, handle))
MUVRA_FORWARD(CURLMcode, curl_multi_perform, (CURLM * multi, int* running), (multi, running))
MUVRA_FORWARD(CURLMcode,
              curl_multi_poll,
              (CURLM * multi, curl_waitfd* extra, unsigned count, int milliseconds, int* found),
              (multi, extra, count, milliseconds, found))
MUVRA_FORWARD(CURLMsg*, curl_multi_info_read, (CURLM * multi, int* left), (multi, left))
MUVRA_FORWARD(CURLMcode, curl_multi_cleanup, (CURLM * multi), (multi))

__attribute__((visibility("default"))) CURLcode curl_easy_setopt(CURL* handle,
                                                                 CURLoption option,
                                                                 ...) {
  if (option == CURLOPT_PROTOCOLS_STR) {
    ++muvra_refused_protocol_strings;
    return CURLE_UNKNOWN_OPTION;
  }
  std::va_list values;
  va_start(values, option);
  const CURLcode result = forwardOne("curl_easy_setopt", handle, option, values);
  va_end(values);
  return result;
}

__attribute__((visibility("default"))) CURLcode curl_easy_getinfo(CURL* handle,
                                                                  CURLINFO info,
                                                                  ...) {
  std::va_list values;
  va_start(values, info);
  const CURLcode result = forwardOne("curl_easy_getinfo", handle, info, values);
  va_end(values);
  return result;
}
}
