#include <curl/curl.h>

#include <exception>
#include <memory>
#include <mutex>

#include "base/failure.h"
#include "update/https_client.h"
#include "update/https_client_testing.h"

namespace muvra {
namespace {

const char* const kCannotReach =
    "Cannot reach GitHub over HTTPS. Check your connection and try again.";
const char* const kInterrupted =
    "The download was interrupted. Your previous installation was kept.";

std::mutex transportLock;
testing::HttpsTestTransport testTransport;

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

void append(Slist& list, const std::string& line) {
  curl_slist* extended = curl_slist_append(list.get(), line.c_str());
  if (extended == nullptr) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  (void)list.release();
  list.reset(extended);
}

// One transfer: what the callbacks learn and the failure that stopped it.
struct Transfer {
  CURL* curl;
  std::uint64_t limit;
  const CancellationFlag& cancel;
  const ChunkSink& sink;
  std::uint64_t total = 0;
  bool statusChecked = false;
  bool responseStarted = false;
  std::exception_ptr failure;

  long status() const {
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
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
    if (code != 200) {
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
  try {
    transfer->deliver(reinterpret_cast<const std::uint8_t*>(data), size);
    return size;
  } catch (...) {
    transfer->failure = std::current_exception();
    return CURL_WRITEFUNC_ERROR;
  }
}

// A header block that is not a redirect belongs to the final response.
size_t onHeader(char* data, size_t, size_t size, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  if (size <= 2 && (data[0] == '\r' || data[0] == '\n')) {
    const long code = transfer->status();
    transfer->responseStarted = code < 300 || code >= 400;
  }
  return size;
}

std::once_flag curlInitialised;

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
              const ChunkSink& sink) {
  const std::optional<HttpsTarget> target = splitHttpsUrl(url);
  if (!target) {
    throw OperationFailure("Only HTTPS downloads on port 443 are supported.");
  }
  std::call_once(curlInitialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  Transfer transfer{curl.get(), byteLimit, cancel, sink, 0, false, false, nullptr};
  Slist headers;
  append(headers, "Accept: application/vnd.github+json");
  append(headers, "X-GitHub-Api-Version: 2026-03-10");
  append(headers, "Cache-Control: no-cache");
  Slist connectTo;
  std::string caFile;
  {
    const std::lock_guard<std::mutex> lock(transportLock);
    caFile = testTransport.extraCaFile;
    for (const auto& [host, port] : testTransport.loopbackPorts) {
      append(connectTo, host + ":443:127.0.0.1:" + std::to_string(port));
    }
  }
  const std::string address(url);
  CURL* c = curl.get();
  bool configured =
      curl_easy_setopt(c, CURLOPT_URL, address.c_str()) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_USERAGENT, "MuvraLoader/1.0") == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, 10000L) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 8L) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveBlockSize)) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer) == CURLE_OK &&
      (connectTo == nullptr ||
       curl_easy_setopt(c, CURLOPT_CONNECT_TO, connectTo.get()) == CURLE_OK) &&
      (caFile.empty() || curl_easy_setopt(c, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK);
  if (!configured) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  // Redirects are followed between https addresses only, never down to plain http.
  if (curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) != CURLE_OK ||
      curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https") != CURLE_OK) {
    throw OperationFailure("Could not configure secure redirects.");
  }
  if (cancel.isSet()) {
    throw OperationFailure("Cancelled.");
  }

  const CURLcode result = curl_easy_perform(c);
  if (transfer.failure) {
    std::rethrow_exception(transfer.failure);
  }
  if (result == CURLE_OK) {
    transfer.checkStatus();  // an empty body never reached the callback
    return;
  }
  // A redirect refused (to plain http, or too many) fails the receive, as in WinHTTP.
  if (!transfer.responseStarted) {
    throw OperationFailure(kCannotReach);
  }
  transfer.checkStatus();
  throw OperationFailure(kInterrupted);
}

}  // namespace muvra
