#pragma once

#include "URLLoading.h"

#include <QCoroTask>

#include <memory>

// One HTTP exchange at a time per request, over libcurl driven from the Qt event loop (no thread of ours; the
// awaiting coroutine resumes on the main thread). It follows no redirect: the loading layer decides on those.
//
// Its rules, each closing a way a hostile network or server could hurt the client:
// - a request other than GET or HEAD goes out at most once: it gets a connection of its own that is never
//   reused, so nothing resends it once a connection drops; the call then fails with networkConnectionLost;
// - pins are checked on the chain certificate verification built up to a trusted authority;
// - TLS 1.2 at least and OpenSSL's security level 2, even where the system's policy is lower;
// - replies come in identity encoding only, so nothing decompresses without bound and a body that cannot be
//   read never passes for a whole one;
// - a reply body beyond the configured size ends the transfer at once, and so do header and trailer fields
//   beyond their own limit.
class HttpTransport {
public:
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // The one transport of the run; it goes with the application object.
    static HttpTransport& shared();

    // Sends the request once and waits for its reply; throws URLError on a transport failure.
    QCoro::Task<URLLoadResult> exchange(URLRequest request, SessionConfiguration configuration,
                                        std::shared_ptr<URLSessionTask> task);

    // Transfers whose exchange has not ended: under way, or over with the outcome not yet handed to the
    // caller. None is left once every caller has had its outcome or been cancelled.
    int liveTransfers() const;

    // The URL error code of a libcurl result, given why certificate verification refused the chain (0 when it
    // did not run, or passed) and whether the peer closed or reset a connection it had accepted before the
    // TLS handshake was over.
    static int errorCode(int transportCode, long certificateError = 0, bool peerHungUp = false);

private:
    HttpTransport();

    struct Engine;
    std::unique_ptr<Engine> m_engine;
};
