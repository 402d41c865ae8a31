#pragma once

#include "support/IdentityServiceDouble.h"

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <functional>
#include <memory>

// The floor of one of the client's POSTs: bare libcurl with the client's connection policy and nothing of
// the client. It sends the headers and the body the client sent (as the double recorded them) over HTTP/1.1
// without a proxy, on a connection of its own that is never reused; over TLS that is a full handshake each
// time with the peer and its name verified, against the given authority. The one transfer handle is kept
// between posts, as any libcurl program would, but it resumes no TLS session: the client starts every POST
// on a handle of its own, which has none to resume.
class BarePost {
public:
    // `authorityFile`: the PEM file of the authority that signed the server's certificate; empty for plain
    // HTTP.
    BarePost(const QByteArray& url, QByteArray body, const ReceivedRequest& asSent, const QString& authorityFile = {})
        : m_url(url)
        , m_body(std::move(body))
        , m_authority(authorityFile.toLocal8Bit()) {
        for (const auto& [name, value] : asSent.headers) {
            if (name.compare("host", Qt::CaseInsensitive) == 0 ||
                name.compare("content-length", Qt::CaseInsensitive) == 0)
                continue;
            m_headers.reset(curl_slist_append(m_headers.release(), (name + ": " + value).constData()));
        }
        // The client sends the body at once, without waiting for a "100 Continue".
        m_headers.reset(curl_slist_append(m_headers.release(), "Expect:"));

        CURL* easy = m_easy.get();
        curl_easy_setopt(easy, CURLOPT_URL, m_url.constData());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, m_body.constData());
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headers.get());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &BarePost::collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &m_reply);
        if (!m_authority.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, m_authority.constData());
            curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
            curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        }
    }

    // One POST; true when it got a 200 with a body.
    bool run() {
        m_reply.clear();
        long status = 0;
        const bool ok = curl_easy_perform(m_easy.get()) == CURLE_OK &&
                        curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK;
        return ok && status == 200 && !m_reply.isEmpty();
    }

private:
    static size_t collect(char* data, size_t size, size_t count, void* target) {
        static_cast<QByteArray*>(target)->append(data, qsizetype(size * count));
        return size * count;
    }

    QByteArray m_url;
    QByteArray m_body;
    QByteArray m_authority;
    QByteArray m_reply;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> m_headers{nullptr, &curl_slist_free_all};
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> m_easy{curl_easy_init(), &curl_easy_cleanup};
};

// What the client sent while `act` ran, as `service` (the double, on a thread of its own) recorded it: the
// floor then posts the very same bytes.
inline QList<ReceivedRequest> recordSent(IdentityServiceDouble& service, const std::function<void()>& act) {
    QList<ReceivedRequest> sent;
    QMetaObject::invokeMethod(
        &service,
        [&] {
            service.clearReceived();
            service.setRecording(true);
        },
        Qt::BlockingQueuedConnection);
    act();
    QMetaObject::invokeMethod(
        &service,
        [&] {
            sent = service.received();
            service.setRecording(false);
        },
        Qt::BlockingQueuedConnection);
    return sent;
}
