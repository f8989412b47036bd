#include "CurlTransport.h"

#include "Crc64.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace AlibabaCloud {
namespace OSS {

struct CurlTransport::Handle
{
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
};

namespace {

// How often a waiting transfer looks at the cancellation flag.
constexpr int kPollIntervalMs = 100;
constexpr long kBufferSize = 512 * 1024;
// How much of a streamed body waits in memory for the integrity checks.
constexpr size_t kHeldBackBytes = 64 * 1024;

const char* const kResponseStreamError = "ResponseStreamError";
const char* const kResponseError = "ResponseError";
const char* const kStreamWriteMessage = "Writing the response body into the stream failed.";

struct Transfer
{
    using Clock = std::chrono::steady_clock;

    const HttpRequest* request = nullptr;
    HttpResponse* response = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
    Crc64 sentCrc;
    Crc64 receivedCrc;
    int64_t remaining = 0;
    size_t textOffset = 0;
    bool headersDone = false;
    bool toStream = false;
    int64_t expectedLength = 0;
    // Stalls are timed from the ready connection on; connecting has a limit of its own.
    bool connected = false;
    Clock::time_point lastMoved;
    curl_off_t bytesMoved = 0;

    void moved() { lastMoved = Clock::now(); }
    bool stalledFor(long milliseconds) const
    {
        return connected && Clock::now() - lastMoved >= std::chrono::milliseconds(milliseconds);
    }

    void fail(const std::string& code, const std::string& message) { response->failLocally(code, message); }

    // The caller's handler must not unwind through libcurl.
    bool reportProgress(size_t increment, int64_t transferred, int64_t total)
    {
        const TransferProgress& progress = request->progress;
        if (!progress.Handler)
            return true;
        try {
            progress.Handler(increment, transferred, total, progress.UserData);
            return true;
        } catch (...) {
            fail("ProgressHandlerError", "The transfer progress handler threw an exception.");
            return false;
        }
    }
};

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

size_t readBody(char* buffer, size_t size, size_t count, void* userData)
{
    auto* t = static_cast<Transfer*>(userData);
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size * count), t->remaining));
    if (wanted == 0)
        return 0;
    size_t got = 0;
    if (t->request->bodyStream) {
        std::iostream& stream = *t->request->bodyStream;
        stream.read(buffer, static_cast<std::streamsize>(wanted));
        got = static_cast<size_t>(stream.gcount());
        if (got == 0) {
            t->fail("RequestBodyError", "The content stream ended before the " + std::to_string(t->request->bodyLength)
                                            + " bytes of the request body.");
            return CURL_READFUNC_ABORT;
        }
    } else {
        got = std::min(wanted, t->request->bodyText.size() - t->textOffset);
        std::memcpy(buffer, t->request->bodyText.data() + t->textOffset, got);
        t->textOffset += got;
    }
    t->moved();
    t->remaining -= static_cast<int64_t>(got);
    t->response->bytesSent += static_cast<int64_t>(got);
    t->sentCrc.update(buffer, got);
    if (!t->reportProgress(got, t->response->bytesSent, t->request->bodyLength))
        return CURL_READFUNC_ABORT;
    return got;
}

// The end of the final header block: from here on the header callback sees
// only trailers, and the body has the one stream it will ever get.
bool finishHeaders(Transfer* t)
{
    HttpResponse& response = *t->response;
    t->headersDone = true;
    const std::string length = response.header("Content-Length");
    t->expectedLength = length.empty() ? 0 : std::strtoll(length.c_str(), nullptr, 10);
    if (response.status / 100 != 2)
        return true;
    if (!t->request->asksFor(response.status)) {
        t->fail(kResponseError, "The service answered HTTP " + std::to_string(response.status)
                                    + ", which the request did not ask for.");
        return false;
    }
    if (!t->request->responseStreamFactory)
        return true;
    try {
        response.stream = t->request->responseStreamFactory();
    } catch (...) {
        response.stream.reset();
    }
    if (!response.stream || !*response.stream) {
        t->fail(kResponseStreamError, "The response stream could not be created.");
        return false;
    }
    t->toStream = true;
    return true;
}

bool isLineEnd(const char* data, size_t n)
{
    return (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
}

size_t receiveHeader(char* data, size_t size, size_t count, void* userData)
{
    auto* t = static_cast<Transfer*>(userData);
    const size_t n = size * count;
    HttpResponse& response = *t->response;
    t->moved();
    // Trailers after a chunked body: they neither start a response nor end one.
    if (t->headersDone)
        return n;
    const std::string line = trim(std::string(data, n));
    if (line.compare(0, 5, "HTTP/") == 0) {
        // Each header block (100 Continue, then the final one) starts afresh.
        response.headers.clear();
        const auto blank = line.find(' ');
        response.status = blank == std::string::npos ? 0 : std::strtol(line.c_str() + blank + 1, nullptr, 10);
    } else if (isLineEnd(data, n)) {
        if (response.status >= 200 && !finishHeaders(t))
            return 0;
    } else {
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            response.headers[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
    }
    return n;
}

// Writes the body but for its last kHeldBackBytes or more (less than twice
// that), which wait in heldBack.
bool writeHoldingBack(HttpResponse& response, const char* data, size_t n)
{
    std::string& held = response.heldBack;
    std::iostream& stream = *response.stream;
    if (n >= kHeldBackBytes) {
        stream.write(held.data(), static_cast<std::streamsize>(held.size()));
        stream.write(data, static_cast<std::streamsize>(n - kHeldBackBytes));
        held.assign(data + n - kHeldBackBytes, kHeldBackBytes);
        return static_cast<bool>(stream);
    }
    held.append(data, n);
    // Small pieces (a slow link) would otherwise move the whole tail each time.
    if (held.size() >= 2 * kHeldBackBytes) {
        const size_t excess = held.size() - kHeldBackBytes;
        stream.write(held.data(), static_cast<std::streamsize>(excess));
        held.erase(0, excess);
    }
    return static_cast<bool>(stream);
}

size_t receiveBody(char* data, size_t size, size_t count, void* userData)
{
    auto* t = static_cast<Transfer*>(userData);
    const size_t n = size * count;
    HttpResponse& response = *t->response;
    if (!t->headersDone && !finishHeaders(t))
        return 0;
    t->moved();
    response.bytesReceived += static_cast<int64_t>(n);
    if (!t->toStream) {
        response.body.append(data, n);
        return n;
    }
    if (!writeHoldingBack(response, data, n)) {
        t->fail(kResponseStreamError, kStreamWriteMessage);
        return 0;
    }
    t->receivedCrc.update(data, n);
    if (!t->reportProgress(n, response.bytesReceived, t->expectedLength))
        return 0;
    return n;
}

int transferInfo(void* userData, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto* t = static_cast<Transfer*>(userData);
    // libcurl counts bytes on the wire, which may move while no callback of ours runs.
    if (downloaded + uploaded != t->bytesMoved) {
        t->bytesMoved = downloaded + uploaded;
        t->moved();
    }
    return t->cancelled->load() ? 1 : 0;
}

int connectionReady(void* userData, char*, char*, int, int)
{
    auto* t = static_cast<Transfer*>(userData);
    t->connected = true;
    t->moved();
    return CURL_PREREQFUNC_OK;
}

std::string proxyUrl(const ClientConfiguration& c)
{
    return std::string(c.proxyScheme == Http::HTTPS ? "https://" : "http://") + c.proxyHost
           + (c.proxyPort ? ":" + std::to_string(c.proxyPort) : std::string());
}

curl_slist* requestHeaderList(const HttpRequest& request)
{
    curl_slist* headerList = nullptr;
    for (const auto& [name, value] : request.headers)
        headerList = curl_slist_append(headerList, (name + ": " + value).c_str());
    // A 100-continue round trip per upload only costs time here.
    return curl_slist_append(headerList, "Expect:");
}

// The request itself and the callbacks that feed and read it. headerList and
// errorBuffer must outlive the transfer; libcurl keeps pointers to them.
void setRequestOptions(CURL* easy, Transfer& transfer, curl_slist* headerList, char* errorBuffer,
                       const std::string& userAgent)
{
    const HttpRequest& request = *transfer.request;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    // An endpoint such as "file://127.0.0.1" must not reach local files.
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Keys may hold "./" and "../"; they are names, not path steps.
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kBufferSize);
    if (request.hasBody || request.method == "PUT" || request.method == "POST") {
        curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(transfer.remaining));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
    }
    if (request.method != "GET" && request.method != "PUT")
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receiveBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, transferInfo);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, connectionReady);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &transfer);
}

// Timeouts, certificates and proxy, all from the client's configuration.
void setConnectionOptions(CURL* easy, const ClientConfiguration& configuration)
{
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, configuration.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, configuration.verifySSL ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, configuration.verifySSL ? 2L : 0L);
    if (!configuration.caFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, configuration.caFile.c_str());
    if (!configuration.caPath.empty())
        curl_easy_setopt(easy, CURLOPT_CAPATH, configuration.caPath.c_str());
    // libcurl copies these strings, so they need not outlive this call.
    if (!configuration.proxyHost.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXY, proxyUrl(configuration).c_str());
        // A tunnel's "200 Connection established" is no answer of the service.
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (!configuration.proxyUserName.empty()) {
            const std::string credentials = configuration.proxyUserName + ":" + configuration.proxyPassword;
            curl_easy_setopt(easy, CURLOPT_PROXYUSERPWD, credentials.c_str());
        }
    }
}

// Why the transfer loop stopped.
enum class Ending { Finished, Cancelled, Stalled };

// libcurl's own low-speed limit averages over a window, so a stall after
// some bytes would run well past the limit: the silence is timed here instead.
Ending runTransfer(CURLM* multi, const Transfer& transfer, long stallLimitMs)
{
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK || running == 0)
            return Ending::Finished;
        if (transfer.cancelled->load())
            return Ending::Cancelled;
        if (transfer.stalledFor(stallLimitMs))
            return Ending::Stalled;
        curl_multi_poll(multi, nullptr, 0, kPollIntervalMs, nullptr);
    }
}

CURLcode resultOf(CURLM* multi, Ending ending)
{
    switch (ending) {
    case Ending::Cancelled: return CURLE_ABORTED_BY_CALLBACK;
    case Ending::Stalled: return CURLE_OPERATION_TIMEDOUT;
    case Ending::Finished: break;
    }
    // Stays so when curl_multi_perform failed before the transfer was done.
    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    }
    return result;
}

void setOutcome(const Transfer& transfer, CURLcode result, Ending ending, long stallLimitMs, const char* errorBuffer)
{
    HttpResponse& response = *transfer.response;
    response.curlCode = result;
    if (result != CURLE_OK) {
        response.curlMessage = curl_easy_strerror(result);
        // A callback may abort for its own reasons; only a set flag means the client was disabled.
        if (result == CURLE_ABORTED_BY_CALLBACK && transfer.cancelled->load())
            response.curlMessage += ".The client's requests are disabled";
        else if (ending == Ending::Stalled)
            response.curlMessage += ".Operation too slow. No data moved for " + std::to_string(stallLimitMs) + " ms";
        else if (errorBuffer[0])
            response.curlMessage += std::string(".") + trim(errorBuffer);
    }
    response.sentCrc64 = transfer.sentCrc.value();
    response.receivedCrc64 = transfer.receivedCrc.value();
}

} // namespace

CurlTransport::CurlTransport(const ClientConfiguration& configuration)
    : configuration_(configuration)
{
}

CurlTransport::~CurlTransport()
{
    for (Handle* handle : idle_) {
        curl_multi_cleanup(handle->multi);
        curl_easy_cleanup(handle->easy);
        delete handle;
    }
}

CurlTransport::Handle* CurlTransport::acquire()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!idle_.empty()) {
            Handle* handle = idle_.back();
            idle_.pop_back();
            return handle;
        }
    }
    auto* handle = new Handle;
    handle->easy = curl_easy_init();
    handle->multi = curl_multi_init();
    if (!handle->easy || !handle->multi) {
        curl_multi_cleanup(handle->multi);
        curl_easy_cleanup(handle->easy);
        delete handle;
        return nullptr;
    }
    return handle;
}

void CurlTransport::release(Handle* handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (static_cast<int>(idle_.size()) < std::max(1, configuration_.maxConnections)) {
        idle_.push_back(handle);
        return;
    }
    curl_multi_cleanup(handle->multi);
    curl_easy_cleanup(handle->easy);
    delete handle;
}

HttpResponse CurlTransport::perform(const HttpRequest& request, const std::atomic<bool>& cancelled)
{
    HttpResponse response;
    Handle* handle = acquire();
    if (!handle) {
        response.curlCode = CURLE_FAILED_INIT;
        response.curlMessage = curl_easy_strerror(CURLE_FAILED_INIT);
        return response;
    }

    Transfer transfer;
    transfer.request = &request;
    transfer.response = &response;
    transfer.cancelled = &cancelled;
    transfer.remaining = request.hasBody ? request.bodyLength : 0;

    CURL* easy = handle->easy;
    curl_easy_reset(easy);
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    curl_slist* headerList = requestHeaderList(request);
    setRequestOptions(easy, transfer, headerList, errorBuffer, configuration_.userAgent);
    setConnectionOptions(easy, configuration_);

    const long stallLimitMs = configuration_.requestTimeoutMs > 0 ? configuration_.requestTimeoutMs : 1000;
    curl_multi_add_handle(handle->multi, easy);
    const Ending ending = runTransfer(handle->multi, transfer, stallLimitMs);
    const CURLcode result = resultOf(handle->multi, ending);
    curl_multi_remove_handle(handle->multi, easy);
    curl_slist_free_all(headerList);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);

    setOutcome(transfer, result, ending, stallLimitMs, errorBuffer);
    release(handle);
    return response;
}

bool CurlTransport::releaseHeldBack(HttpResponse& response)
{
    response.stream->write(response.heldBack.data(), static_cast<std::streamsize>(response.heldBack.size()));
    response.heldBack.clear();
    response.stream->flush();
    if (*response.stream)
        return true;
    response.failLocally(kResponseStreamError, kStreamWriteMessage);
    return false;
}

} // namespace OSS
} // namespace AlibabaCloud
