#include <curl/curl.h>

#include <strings.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>

#include "base/failure.h"
#include "base/shared_library.h"
#include "net/https_client.h"
#include "net/https_client_testing.h"
#include "net/system_proxy.h"

namespace muvra {
namespace {

std::mutex transportLock;
testing::HttpsTestTransport testTransport;

// libcurl, loaded and initialised with the first request: the window starts without it and the
// libraries it links.
struct Curl {
  Curl() {
    library.bind(globalInit, "curl_global_init");
    library.bind(easyInit, "curl_easy_init");
    library.bind(easySetopt, "curl_easy_setopt");
    library.bind(easyGetinfo, "curl_easy_getinfo");
    library.bind(easyCleanup, "curl_easy_cleanup");
    library.bind(slistAppend, "curl_slist_append");
    library.bind(slistFreeAll, "curl_slist_free_all");
    library.bind(multiInit, "curl_multi_init");
    library.bind(multiAddHandle, "curl_multi_add_handle");
    library.bind(multiRemoveHandle, "curl_multi_remove_handle");
    library.bind(multiPerform, "curl_multi_perform");
    library.bind(multiPoll, "curl_multi_poll");
    library.bind(multiInfoRead, "curl_multi_info_read");
    library.bind(multiCleanup, "curl_multi_cleanup");
    if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw OperationFailure("Could not create HTTPS request.");
    }
  }

  SharedLibrary library{"libcurl.so.4", "libcurl4"};
  decltype(&curl_global_init) globalInit;
  decltype(&curl_easy_init) easyInit;
  decltype(&curl_easy_setopt) easySetopt;
  decltype(&curl_easy_getinfo) easyGetinfo;
  decltype(&curl_easy_cleanup) easyCleanup;
  decltype(&curl_slist_append) slistAppend;
  decltype(&curl_slist_free_all) slistFreeAll;
  decltype(&curl_multi_init) multiInit;
  decltype(&curl_multi_add_handle) multiAddHandle;
  decltype(&curl_multi_remove_handle) multiRemoveHandle;
  decltype(&curl_multi_perform) multiPerform;
  decltype(&curl_multi_poll) multiPoll;
  decltype(&curl_multi_info_read) multiInfoRead;
  decltype(&curl_multi_cleanup) multiCleanup;
};

const Curl& curl() {
  static const Curl loaded;
  return loaded;
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl().easyCleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl().slistFreeAll(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

void append(Slist& list, const std::string& line) {
  curl_slist* extended = curl().slistAppend(list.get(), line.c_str());
  if (extended == nullptr) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  (void)list.release();
  list.reset(extended);
}

// One transfer: what the callbacks learn and the failure that stopped it.
struct Transfer {
  CURL* handle;
  std::uint64_t limit;
  const CancellationFlag& cancel;
  const ChunkSink& sink;
  const RangeRequest& range;
  const AnswerCheck& check;
  AnswerFacts facts;  // of the header block being read
  std::uint64_t total = 0;
  bool statusChecked = false;
  bool responseStarted = false;
  bool locationSeen = false;  // in the header block being read
  bool redirecting = false;   // this address answered with a redirect, whose body is not read
  std::exception_ptr failure;
  std::chrono::steady_clock::time_point lastHeard{};  // the last byte or header, set by perform

  long status() const {
    long code = 0;
    curl().easyGetinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    return code;
  }

  // Maps the final status once, before any body byte reaches the sink.
  void checkStatus() {
    if (statusChecked) {
      return;
    }
    statusChecked = true;
    const long code = status();
    if (code == 0) {
      throw OperationFailure("Could not read GitHub's HTTP status.");
    }
    facts.status = code;
    if (check) {
      check(facts);
    }
    if (!isAcceptedStatus(code, range)) {
      throw OperationFailure(statusFailureSentence(code));
    }
    if (cancel.isSet()) {
      throw OperationFailure("Cancelled.");
    }
  }

  void deliver(const std::uint8_t* data, std::size_t size) {
    checkStatus();
    if (size > limit - total) {
      throw OperationFailure("The response exceeded the allowed size.");
    }
    total += size;
    sink(data, static_cast<std::uint32_t>(size));
    if (cancel.isSet()) {
      throw OperationFailure("Cancelled.");
    }
  }
};

size_t onBody(char* data, size_t, size_t size, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  transfer->lastHeard = std::chrono::steady_clock::now();
  if (transfer->redirecting) {
    return size;
  }
  try {
    transfer->deliver(reinterpret_cast<const std::uint8_t*>(data), size);
    return size;
  } catch (...) {
    transfer->failure = std::current_exception();
    return CURL_WRITEFUNC_ERROR;
  }
}

// Takes the value of a header the answer's facts keep; false for any other line.
bool readFactHeader(std::string_view line, AnswerFacts& facts) {
  const std::pair<const char*, std::string AnswerFacts::*> kKept[] = {
      {"etag", &AnswerFacts::etag},
      {"last-modified", &AnswerFacts::lastModified},
      {"content-range", &AnswerFacts::contentRange},
      {"retry-after", &AnswerFacts::retryAfter},
      {"x-ratelimit-reset", &AnswerFacts::rateLimitReset}};
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    return false;
  }
  for (const auto& [name, member] : kKept) {
    if (colon == std::strlen(name) && strncasecmp(line.data(), name, colon) == 0) {
      std::string_view value = line.substr(colon + 1);
      const std::size_t first = value.find_first_not_of(" \t");
      const std::size_t last = value.find_last_not_of(" \t\r\n");
      facts.*member = first == std::string_view::npos
                          ? std::string()
                          : std::string(value.substr(first, last - first + 1));
      return true;
    }
  }
  return false;
}

// A header block that is neither interim (1xx) nor a redirect belongs to the final response. A
// proxy's answer to CONNECT never comes here (CURLOPT_SUPPRESS_CONNECT_HEADERS).
size_t onHeader(char* data, size_t, size_t size, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  transfer->lastHeard = std::chrono::steady_clock::now();
  const std::string_view line(data, size);
  if (line.starts_with("HTTP/")) {
    transfer->locationSeen = false;
    transfer->facts = AnswerFacts{};
  } else if (line.size() > 9 && strncasecmp(data, "location:", 9) == 0) {
    transfer->locationSeen = true;
  } else if (readFactHeader(line, transfer->facts)) {
  } else if (size <= 2 && (data[0] == '\r' || data[0] == '\n')) {
    const long code = transfer->status();
    transfer->redirecting = isRedirect(code) && transfer->locationSeen;
    transfer->responseStarted = code >= 200 && (code < 300 || code >= 400);
  }
  return size;
}

// The transfer of one address ended without a redirect: the outcome as WinHTTP reports it.
void finish(CURLcode result, Transfer& transfer) {
  if (result == CURLE_OK) {
    transfer.checkStatus();  // an empty body never reached the callback
    return;
  }
  if (!transfer.responseStarted) {
    throw OperationFailure(kCannotReachGitHub);
  }
  transfer.checkStatus();
  throw OperationFailure(kDownloadInterrupted);
}

// Only https for every address. CURLOPT_PROTOCOLS_STR comes with libcurl 7.85; an older one
// (Ubuntu 22.04 has 7.81) refuses it and takes the bit mask it replaced.
bool allowOnlyHttps(CURL* handle) {
  const CURLcode result = curl().easySetopt(handle, CURLOPT_PROTOCOLS_STR, "https");
  if (result != CURLE_UNKNOWN_OPTION) {
    return result == CURLE_OK;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return curl().easySetopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS)) ==
         CURLE_OK;
#pragma GCC diagnostic pop
}

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl().multiCleanup(multi); }
};

// Runs the transfer until it ends; the flag and WinHTTP's receive time-out (8 s without a byte)
// are looked at every 100 ms whatever the network does. Returns curl's result.
CURLcode perform(CURL* handle, Transfer& transfer) {
  const Curl& api = curl();
  const std::unique_ptr<CURLM, MultiDeleter> multi(api.multiInit());
  if (!multi || api.multiAddHandle(multi.get(), handle) != CURLM_OK) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  struct Detach {
    CURLM* multi;
    CURL* handle;
    ~Detach() { curl().multiRemoveHandle(multi, handle); }
  } detach{multi.get(), handle};
  transfer.lastHeard = std::chrono::steady_clock::now();
  for (int running = 1; running != 0;) {
    if (api.multiPerform(multi.get(), &running) != CURLM_OK) {
      throw OperationFailure(kCannotReachGitHub);
    }
    if (running == 0) {
      break;
    }
    if (transfer.cancel.isSet()) {
      throw OperationFailure("Cancelled.");
    }
    if (std::chrono::steady_clock::now() - transfer.lastHeard > kSilenceLimit) {
      throw OperationFailure(transfer.responseStarted ? kDownloadInterrupted : kCannotReachGitHub);
    }
    api.multiPoll(multi.get(), nullptr, 0, 100, nullptr);
  }
  int left = 0;
  const CURLMsg* message = api.multiInfoRead(multi.get(), &left);
  return message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                            : CURLE_RECV_ERROR;
}

}  // namespace

namespace testing {
void setHttpsTestTransport(const HttpsTestTransport& transport) {
  const std::lock_guard<std::mutex> lock(transportLock);
  testTransport = transport;
}
}  // namespace testing

void httpsGet(std::string_view url,
              std::uint64_t byteLimit,
              const CancellationFlag& cancel,
              const ChunkSink& sink,
              const RangeRequest& range,
              const AnswerCheck& check) {
  const std::optional<HttpsTarget> target = splitHttpsUrl(url);
  if (!target) {
    throw OperationFailure("Only HTTPS downloads on port 443 are supported.");
  }
  const Curl& api = curl();
  const std::unique_ptr<CURL, CurlDeleter> request(api.easyInit());
  if (!request) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  Transfer transfer{request.get(), byteLimit, cancel, sink,  range,   check, {}, 0,
                    false,         false,     false,  false, nullptr, {}};
  Slist headers;
  append(headers, "Accept: application/vnd.github+json");
  append(headers, "X-GitHub-Api-Version: 2026-03-10");
  append(headers, "Cache-Control: no-cache");
  const std::string rangeLines = rangeHeaderLines(range);
  for (std::size_t start = 0; start < rangeLines.size();) {
    const std::size_t end = rangeLines.find("\r\n", start);
    append(headers, rangeLines.substr(start, end - start));
    start = end + 2;
  }
  Slist connectTo;
  std::string caFile;
  {
    const std::lock_guard<std::mutex> lock(transportLock);
    caFile = testTransport.extraCaFile;
    for (const auto& [host, port] : testTransport.loopbackPorts) {
      append(connectTo, host + "::127.0.0.1:" + std::to_string(port));  // any port
    }
  }
  CURL* c = request.get();
  bool configured =
      allowOnlyHttps(c) && api.easySetopt(c, CURLOPT_USERAGENT, "MuvraLoader/1.0") == CURLE_OK &&
      api.easySetopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      // Name resolution and connecting, 5 s each in WinHTTP, together here.
      api.easySetopt(c, CURLOPT_CONNECTTIMEOUT_MS, 10000L) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveBlockSize)) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_WRITEFUNCTION, onBody) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_HEADERFUNCTION, onHeader) == CURLE_OK &&
      api.easySetopt(c, CURLOPT_HEADERDATA, &transfer) == CURLE_OK &&
      (connectTo == nullptr ||
       api.easySetopt(c, CURLOPT_CONNECT_TO, connectTo.get()) == CURLE_OK) &&
      (caFile.empty() || api.easySetopt(c, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK);
  if (!configured) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  // Redirects are followed here, not by curl, so that each address gets its own proxy: at
  // most 10, between https addresses only, as WinHTTP.
  std::string address(url);
  for (int redirects = 0;; ++redirects) {
    if (cancel.isSet()) {
      throw OperationFailure("Cancelled.");
    }
    const std::string proxy = systemProxyFor(address, cancel);
    if (api.easySetopt(c, CURLOPT_URL, address.c_str()) != CURLE_OK ||
        api.easySetopt(c, CURLOPT_PROXY, proxy.c_str()) != CURLE_OK) {
      throw OperationFailure("Could not create HTTPS request.");
    }
    transfer.redirecting = false;
    transfer.responseStarted = false;
    const CURLcode result = perform(c, transfer);
    if (transfer.failure) {
      std::rethrow_exception(transfer.failure);
    }
    if (result != CURLE_OK || !transfer.redirecting) {
      finish(result, transfer);
      return;
    }
    char* next = nullptr;
    api.easyGetinfo(c, CURLINFO_REDIRECT_URL, &next);
    const std::optional<std::string> nextAddress =
        next == nullptr ? std::nullopt : redirectTarget(address, next);
    if (redirects == kMostRedirects || !nextAddress) {
      throw OperationFailure(kCannotReachGitHub);
    }
    address = *nextAddress;
  }
}

}  // namespace muvra
