#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "base/wide_text_win.h"
#include "net/https_client.h"

namespace muvra {
namespace {

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle invalid() { return nullptr; }
  static void close(Handle handle) { WinHttpCloseHandle(handle); }
};
using InternetHandle = UniqueHandle<InternetTraits>;

void throwIfCancelled(const CancellationFlag& cancel) {
  if (cancel.isSet()) {
    throw OperationFailure("Cancelled.");
  }
}

// The one operation in progress on a request, as its status callback reports it. WinHTTP runs
// asynchronously so that a cancelled request ends at once: closing its handle ends whatever it
// waits for. The callback may still come after that, so the exchange (and the buffer a read fills)
// lives until the handle's last callback, HANDLE_CLOSING, and until the caller lets go of it.
class Exchange {
 public:
  Exchange() : completed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (completed_ == nullptr) {
      throw OperationFailure("Could not create HTTPS request.");
    }
  }
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // Called by the status callback: the operation ended with `error` (0: success).
  void complete(DWORD error, DWORD bytes) {
    error_ = error;
    bytes_ = bytes;
    SetEvent(completed_);
  }
  // Waits for the operation; throws "Cancelled." as soon as `cancel` is set. The answer is the
  // operation's error, 0 on success.
  DWORD await(const CancellationFlag& cancel) {
    for (;;) {
      throwIfCancelled(cancel);
      if (WaitForSingleObject(completed_, 50) == WAIT_OBJECT_0) {
        return error_;
      }
    }
  }
  DWORD bytes() const { return bytes_; }
  // One holder lets go: the caller, and the callback at HANDLE_CLOSING.
  void release() {
    if (holders_.fetch_sub(1) == 1) {
      delete this;
    }
  }

  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kReceiveBlockSize);

 private:
  ~Exchange() { CloseHandle(completed_); }

  HANDLE completed_;
  DWORD error_ = 0;
  DWORD bytes_ = 0;
  std::atomic<int> holders_{2};
};

void CALLBACK
onRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
  auto* exchange = reinterpret_cast<Exchange*>(context);
  if (exchange == nullptr) {
    return;  // the session and the connection carry no exchange
  }
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      exchange->complete(0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      exchange->complete(0, *static_cast<const DWORD*>(information));
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      exchange->complete(0, length);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      exchange->complete(static_cast<const WINHTTP_ASYNC_RESULT*>(information)->dwError, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      exchange->release();
      break;
    default:
      break;
  }
}

struct ExchangeRelease {
  void operator()(Exchange* exchange) const { exchange->release(); }
};

// The status of the response; 0 when it is unreadable.
DWORD statusCode(HINTERNET request) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return value;
}

// A text header of the final response; empty when it is missing. `name` for one WinHTTP has no
// query for (WINHTTP_QUERY_CUSTOM).
std::string textHeader(HINTERNET request,
                       DWORD query,
                       const wchar_t* name = WINHTTP_HEADER_NAME_BY_INDEX) {
  DWORD size = 0;
  if (WinHttpQueryHeaders(request, query, name, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    return {};
  }
  std::u16string value(size / sizeof(char16_t), u'\0');
  if (!WinHttpQueryHeaders(request, query, name, value.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(char16_t));
  return utf16ToUtf8Lossy(value);
}

// The length the response announces, 64-bit; empty when it announces none. Where WinHTTP does
// not know the 64-bit query (Wine's refuses the flag), the header's text is read instead.
std::optional<std::uint64_t> announcedLength(HINTERNET request) {
  ULONGLONG length = 0;
  DWORD size = sizeof(length);
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER64,
                          WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX)) {
    return length;
  }
  if (GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND) {
    return std::nullopt;
  }
  return parseContentLength(textHeader(request, WINHTTP_QUERY_CONTENT_LENGTH));
}

AnswerFacts answerFacts(HINTERNET request, DWORD status) {
  AnswerFacts facts;
  facts.status = static_cast<long>(status);
  facts.etag = textHeader(request, WINHTTP_QUERY_ETAG);
  facts.lastModified = textHeader(request, WINHTTP_QUERY_LAST_MODIFIED);
  facts.contentRange = textHeader(request, WINHTTP_QUERY_CONTENT_RANGE);
  facts.retryAfter = textHeader(request, WINHTTP_QUERY_RETRY_AFTER);
  facts.rateLimitReset = textHeader(request, WINHTTP_QUERY_CUSTOM, L"X-RateLimit-Reset");
  return facts;
}

// Session, connection and request of one GET; members close in reverse: request first, and the
// exchange is let go of once the request is closed.
struct OpenRequest {
  std::unique_ptr<Exchange, ExchangeRelease> exchange;
  InternetHandle session;
  InternetHandle connection;
  InternetHandle request;
};

OpenRequest openRequest(std::string_view url) {
  std::wstring address = wideText(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  // The portable split refuses what WinHTTP would also take (no host, credentials), so both
  // platforms refuse the same addresses.
  if (!splitHttpsUrl(url) || !WinHttpCrackUrl(address.c_str(), 0, 0, &parts) ||
      parts.nScheme != INTERNET_SCHEME_HTTPS || parts.nPort != INTERNET_DEFAULT_HTTPS_PORT) {
    throw OperationFailure("Only HTTPS downloads on port 443 are supported.");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) {
    target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }

  OpenRequest open;
  open.session = InternetHandle(WinHttpOpen(L"MuvraLoader/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                            WINHTTP_FLAG_ASYNC));
  if (open.session.get() == nullptr ||
      !WinHttpSetTimeouts(open.session.get(), 5000, 5000, 8000, 8000) ||
      WinHttpSetStatusCallback(
          open.session.get(), onRequestStatus,
          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  open.connection = InternetHandle(
      WinHttpConnect(open.session.get(), host.c_str(), INTERNET_DEFAULT_HTTPS_PORT, 0));
  if (open.connection.get() == nullptr) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  open.request = InternetHandle(
      WinHttpOpenRequest(open.connection.get(), L"GET", target.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (open.request.get() == nullptr) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  auto* exchange = new Exchange();
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange);
  if (!WinHttpSetOption(open.request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context,
                        sizeof(context))) {
    exchange->release();  // no callback will ever hold it
    exchange->release();
    throw OperationFailure("Could not create HTTPS request.");
  }
  open.exchange.reset(exchange);
  // WinHTTP follows no redirect itself: httpsGet holds each target to the first address's rules
  // before anything is sent to it.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  if (!WinHttpSetOption(open.request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy,
                        sizeof(policy))) {
    throw OperationFailure("Could not configure secure redirects.");
  }
  return open;
}

void sendAndReceive(const OpenRequest& open,
                    const RangeRequest& range,
                    const CancellationFlag& cancel) {
  HINTERNET request = open.request.get();
  const std::wstring headers = wideText(
      "Accept: application/vnd.github+json\r\n"
      "X-GitHub-Api-Version: 2026-03-10\r\n"
      "Cache-Control: no-cache\r\n" +
      rangeHeaderLines(range));
  const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(open.exchange.get());
  if (!WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(-1L),
                          WINHTTP_NO_REQUEST_DATA, 0, 0, context) ||
      open.exchange->await(cancel) != 0 || !WinHttpReceiveResponse(request, nullptr) ||
      open.exchange->await(cancel) != 0) {
    throw OperationFailure(kCannotReachGitHub);
  }
}

// The next bytes of the body, into the exchange's buffer; 0 once the body has ended. Asked for
// what has arrived, then for that much, a read ends without waiting for more. The end is a read
// that completes with no bytes, whatever count of available bytes came before it. Asynchronously
// the counts come with the completions, never through the last arguments.
DWORD readNext(HINTERNET request, Exchange& exchange, const CancellationFlag& cancel) {
  if (!WinHttpQueryDataAvailable(request, nullptr) || exchange.await(cancel) != 0) {
    throw OperationFailure(kDownloadInterrupted);
  }
  const auto room = static_cast<DWORD>(exchange.buffer.size());
  const DWORD available = exchange.bytes();
  if (!WinHttpReadData(request, exchange.buffer.data(),
                       available == 0 ? room : std::min(available, room), nullptr) ||
      exchange.await(cancel) != 0) {
    throw OperationFailure(kDownloadInterrupted);
  }
  return exchange.bytes();
}

void readBody(const OpenRequest& open,
              std::uint64_t byteLimit,
              const CancellationFlag& cancel,
              const ChunkSink& sink) {
  HINTERNET request = open.request.get();
  Exchange& exchange = *open.exchange;
  const std::optional<std::uint64_t> announced = announcedLength(request);
  std::uint64_t total = 0;
  for (;;) {
    const DWORD count = readNext(request, exchange, cancel);
    if (count == 0) {
      // A connection closed before the announced length is an interrupted body, not its end.
      if (announced && total < *announced) {
        throw OperationFailure(kDownloadInterrupted);
      }
      return;
    }
    if (count > byteLimit - total) {
      throw OperationFailure("The response exceeded the allowed size.");
    }
    total += count;
    sink(exchange.buffer.data(), count);
    throwIfCancelled(cancel);
  }
}

}  // namespace

void httpsGet(std::string_view url,
              std::uint64_t byteLimit,
              const CancellationFlag& cancel,
              const ChunkSink& sink,
              const RangeRequest& range,
              const AnswerCheck& check) {
  std::string address(url);
  for (int redirects = 0;; ++redirects) {
    const OpenRequest open = openRequest(address);
    throwIfCancelled(cancel);
    sendAndReceive(open, range, cancel);
    HINTERNET request = open.request.get();
    const DWORD status = statusCode(request);
    if (status == 0) {
      throw OperationFailure("Could not read GitHub's HTTP status.");
    }
    const std::string location = textHeader(request, WINHTTP_QUERY_LOCATION);
    if (isRedirect(static_cast<long>(status)) && !location.empty()) {
      const std::optional<std::string> target = redirectTarget(address, location);
      if (redirects == kMostRedirects || !target) {
        throw OperationFailure(kCannotReachGitHub);
      }
      address = *target;
      continue;
    }
    if (check) {
      check(answerFacts(request, status));
    }
    if (!isAcceptedStatus(static_cast<long>(status), range)) {
      throw OperationFailure(statusFailureSentence(static_cast<long>(status)));
    }
    throwIfCancelled(cancel);
    readBody(open, byteLimit, cancel, sink);
    return;
  }
}

}  // namespace muvra
