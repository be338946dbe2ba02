#include "http/form_post.h"

#include <curl/curl.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

namespace viewer {
namespace {

struct EasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
// The one owner of a transfer's handle.
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(a) == lower(b);
    });
}

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// What one transfer has seen so far; the callbacks below write into it.
struct Transfer {
    using Clock = std::chrono::steady_clock;

    std::chrono::milliseconds idleTimeout{};
    const std::atomic<bool> *stop = nullptr;

    std::string body;
    std::string contentEncoding;
    std::string contentType;
    bool haveEncoding = false;
    bool haveType = false;

    // The idle bound starts once a connection is ready; connecting has its own bound.
    bool connected = false;
    Clock::time_point lastMove = Clock::now();
    curl_off_t sent = 0;
    curl_off_t received = 0;

    void moved() { lastMove = Clock::now(); }
};

size_t OnHeader(char *data, size_t size, size_t count, void *user) {
    auto &transfer = *static_cast<Transfer *>(user);
    const std::string_view line(data, size * count);
    transfer.moved();
    if (line.starts_with("HTTP/")) {
        // Each answer of a redirect chain starts afresh; only the last one counts.
        transfer.body.clear();
        transfer.contentEncoding.clear();
        transfer.contentType.clear();
        transfer.haveEncoding = false;
        transfer.haveType = false;
    } else if (StartsWithIgnoringCase(line, "Content-Encoding:")) {
        if (!transfer.haveEncoding)
            transfer.contentEncoding = Trimmed(line.substr(17));
        transfer.haveEncoding = true;
    } else if (StartsWithIgnoringCase(line, "Content-Type:")) {
        if (!transfer.haveType)
            transfer.contentType = Trimmed(line.substr(13));
        transfer.haveType = true;
    }
    return size * count;
}

size_t OnBody(char *data, size_t size, size_t count, void *user) {
    auto &transfer = *static_cast<Transfer *>(user);
    transfer.moved();
    const size_t bytes = size * count;
    const size_t room =
        kMaxFormPostBodyBytes - std::min(kMaxFormPostBodyBytes, transfer.body.size());
    transfer.body.append(data, std::min(bytes, room));
    // A short count ends the transfer at the cap; what arrived is kept.
    return bytes <= room ? bytes : room;
}

int OnProgress(void *user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto &transfer = *static_cast<Transfer *>(user);
    if (transfer.stop != nullptr && transfer.stop->load())
        return 1;
    if (sent != transfer.sent || received != transfer.received) {
        transfer.sent = sent;
        transfer.received = received;
        transfer.moved();
    }
    if (transfer.connected && Transfer::Clock::now() - transfer.lastMove > transfer.idleTimeout)
        return 1;
    return 0;
}

int OnSocketCreated(void *user, curl_socket_t, curlsocktype) {
    auto &transfer = *static_cast<Transfer *>(user);
    transfer.connected = false;
    transfer.moved();
    return CURL_SOCKOPT_OK;
}

int OnConnectionReady(void *user, char *, char *, int, int) {
    auto &transfer = *static_cast<Transfer *>(user);
    transfer.connected = true;
    transfer.moved();
    return CURL_PREREQFUNC_OK;
}

template <typename Value>
bool Set(CURL *handle, CURLoption option, Value value) {
    return curl_easy_setopt(handle, option, value) == CURLE_OK;
}

}  // namespace

std::string GunzipCapped(std::string_view data, std::size_t limit) {
    std::string out;
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return out;
    const std::unique_ptr<z_stream, int (*)(z_stream *)> guard(&stream, inflateEnd);

    std::array<unsigned char, 64 * 1024> chunk{};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    std::size_t left = data.size();
    while (out.size() < limit) {
        if (stream.avail_in == 0 && left > 0) {
            const auto take =
                static_cast<uInt>(std::min<std::size_t>(left, std::numeric_limits<uInt>::max()));
            stream.avail_in = take;
            left -= take;
        }
        stream.next_out = chunk.data();
        stream.avail_out = static_cast<uInt>(chunk.size());
        const int rc = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = chunk.size() - stream.avail_out;
        out.append(reinterpret_cast<const char *>(chunk.data()),
                   std::min(produced, limit - out.size()));
        if (rc == Z_STREAM_END) {
            const std::size_t rest = stream.avail_in + left;
            // A further gzip member goes on; anything else after the stream is ignored.
            if (rest < 2 || stream.next_in[0] != 0x1f ||
                (stream.avail_in > 1 && stream.next_in[1] != 0x8b))
                break;
            if (inflateReset(&stream) != Z_OK)
                break;
            continue;
        }
        if (rc != Z_OK || (produced == 0 && stream.avail_in == 0 && left == 0))
            break;
    }
    return out;
}

FormPostAnswer FormPost(std::string_view url, std::string_view body, const FormPostOptions &options,
                        const std::atomic<bool> *stop) {
    FormPostAnswer answer;
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        answer.error = "curl_easy_init failed";
        return answer;
    }
    CURL *h = handle.get();

    const std::string address(url);
    HeaderList headers;
    for (const std::string &line :
         {std::string("User-Agent: ").append(kFormPostUserAgent),
          std::string("Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                      "application/x-shockwave-flash, application/vnd.ms-excel, "
                      "application/vnd.ms-powerpoint, application/msword, */*"),
          "Referer: " + address, std::string("Accept-Language: zh-cn"),
          std::string("Content-Type: application/x-www-form-urlencoded"),
          // Lines libcurl would add by itself: a header named with nothing after it is left out.
          std::string("Expect:"), std::string("Proxy-Connection:")}) {
        curl_slist *grown = curl_slist_append(headers.get(), line.c_str());
        if (grown == nullptr) {
            answer.error = "curl_slist_append failed";
            return answer;
        }
        static_cast<void>(headers.release());
        headers.reset(grown);
    }

    Transfer transfer;
    transfer.idleTimeout = options.idleTimeout;
    transfer.stop = stop;
    std::array<char, CURL_ERROR_SIZE> errorText{};

    const bool ready =
        Set(h, CURLOPT_ERRORBUFFER, errorText.data()) && Set(h, CURLOPT_URL, address.c_str()) &&
        Set(h, CURLOPT_PROTOCOLS_STR, "http,https") &&
        Set(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
        Set(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
        Set(h, CURLOPT_NOSIGNAL, 1L) && Set(h, CURLOPT_FOLLOWLOCATION, 1L) &&
        Set(h, CURLOPT_MAXREDIRS, kFormPostMaxRedirects) &&
        // 301, 302 and 303 turn the POST into a GET as browsers do; 307 and 308 keep it.
        Set(h, CURLOPT_POSTREDIR, 0L) && Set(h, CURLOPT_SSL_VERIFYPEER, 1L) &&
        Set(h, CURLOPT_SSL_VERIFYHOST, 2L) &&
        Set(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count())) &&
        Set(h, CURLOPT_POST, 1L) &&
        Set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) &&
        // A null pointer would mean no form data at all to libcurl, not an empty one.
        Set(h, CURLOPT_COPYPOSTFIELDS, body.empty() ? "" : body.data()) &&
        Set(h, CURLOPT_HTTPHEADER, headers.get()) && Set(h, CURLOPT_HEADERFUNCTION, &OnHeader) &&
        Set(h, CURLOPT_HEADERDATA, &transfer) && Set(h, CURLOPT_WRITEFUNCTION, &OnBody) &&
        Set(h, CURLOPT_WRITEDATA, &transfer) && Set(h, CURLOPT_NOPROGRESS, 0L) &&
        Set(h, CURLOPT_XFERINFOFUNCTION, &OnProgress) && Set(h, CURLOPT_XFERINFODATA, &transfer) &&
        Set(h, CURLOPT_SOCKOPTFUNCTION, &OnSocketCreated) &&
        Set(h, CURLOPT_SOCKOPTDATA, &transfer) &&
        Set(h, CURLOPT_PREREQFUNCTION, &OnConnectionReady) &&
        Set(h, CURLOPT_PREREQDATA, &transfer) &&
        (options.caFile.empty() || Set(h, CURLOPT_CAINFO, options.caFile.c_str()));
    if (!ready) {
        answer.error = errorText[0] != '\0' ? errorText.data() : "curl_easy_setopt failed";
        return answer;
    }

    const CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK)
        answer.error = errorText[0] != '\0' ? errorText.data() : curl_easy_strerror(result);
    // A chain that never reached its last answer has no body to show.
    if (result == CURLE_TOO_MANY_REDIRECTS)
        return answer;

    const bool gzipSigned =
        transfer.body.size() >= 2 && transfer.body[0] == '\x1f' && transfer.body[1] == '\x8b';
    if ((transfer.contentEncoding == "gzip" || transfer.contentEncoding == "deflate") && gzipSigned)
        answer.body = GunzipCapped(transfer.body, kMaxFormPostBodyBytes);
    else
        answer.body = std::move(transfer.body);
    answer.utf8 = transfer.contentType.find("utf-8") != std::string::npos;
    return answer;
}

}  // namespace viewer
