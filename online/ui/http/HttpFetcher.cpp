#include "online/ui/http/HttpFetcher.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>

namespace nebrin {

namespace {

constexpr qint64 kReadChunk = 64 * 1024;

// The agent name: the program's file name.
QByteArray AgentName() {
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return (name.isEmpty() ? QStringLiteral("nebrin") : name).toUtf8();
}

bool IsSuccess(const QVariant& status) {
    if (!status.isValid()) return true;  // not known yet
    const int code = status.toInt();
    return code >= 200 && code <= 299;
}

// One download: the reply, the file and the rules.
struct Transfer {
    QPointer<QNetworkReply> reply;
    QFile file;
    std::uint64_t maxBytes = 0;
    std::uint64_t received = 0;
    std::string failure;  // set once the transfer has failed
    bool overLimit = false;
    nebrin::IHttpFetcher::Done done;

    void Fail(std::string why) {
        if (failure.empty()) failure = std::move(why);
        if (reply && reply->isRunning()) reply->abort();
    }
    void FailOverLimit() {
        if (failure.empty()) overLimit = true;
        Fail("response larger than " + std::to_string(maxBytes) + " bytes");
    }

    std::string StatusFailure() const {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (IsSuccess(status)) return {};
        return "HTTP status " + std::to_string(status.toInt()) + " " +
               reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toStdString();
    }

    // Moves what has arrived into the file. The body of a response that
    // failed is read and dropped, so the transfer can end (Qt reports its
    // own error for 4xx and 5xx).
    void Drain() {
        if (!reply) return;
        if (failure.empty()) failure = StatusFailure();
        while (reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(kReadChunk);
            if (chunk.isEmpty()) break;
            received += static_cast<std::uint64_t>(chunk.size());
            if (received > maxBytes) return FailOverLimit();
            if (!failure.empty()) continue;
            if (file.write(chunk) != chunk.size()) return Fail("cannot write " + file.fileName().toStdString());
        }
    }
};

}  // namespace

QtHttpFetcher::QtHttpFetcher(QObject* parent) : QObject(parent), manager_(new QNetworkAccessManager(this)) {
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    manager_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

QtHttpFetcher::~QtHttpFetcher() = default;

void QtHttpFetcher::Start(const std::string& url, const std::string& path, std::uint64_t maxBytes, int deadlineMs,
                          Done done) {
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty() || (scheme != "http" && scheme != "https"))
        return done({false, "not an http(s) address: " + url});

    auto t = std::make_shared<Transfer>();
    t->maxBytes = maxBytes;
    t->done = std::move(done);
    t->file.setFileName(QString::fromStdString(path));
    if (!t->file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return t->done({false, "cannot create " + path + ": " + t->file.errorString().toStdString()});

    QNetworkRequest request(address);
    request.setHeader(QNetworkRequest::UserAgentHeader, AgentName());
    request.setTransferTimeout(transferTimeoutMs_);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = manager_->get(request);
    reply->setReadBufferSize(4 * kReadChunk);
    t->reply = reply;
    ++pending_;

    connect(reply, &QNetworkReply::metaDataChanged, this, [t] {
        if (!t->reply) return;
        // Refuse early what will not fit; redirects are followed by Qt.
        const QVariant status = t->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && status.toInt() >= 300 && status.toInt() < 400) return;
        const QVariant length = t->reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toULongLong() > t->maxBytes) t->FailOverLimit();
    });
    connect(reply, &QNetworkReply::readyRead, this, [t] { t->Drain(); });
    // The whole transfer's deadline, however steadily the bytes trickle in.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this,
            [t, deadlineMs] { t->Fail("not finished within " + std::to_string(deadlineMs) + " ms"); });
    deadline->start(std::max(deadlineMs, 0));
    connect(reply, &QNetworkReply::finished, this, [this, t] {
        --pending_;
        QNetworkReply* r = t->reply;
        if (r) {
            if (r->error() == QNetworkReply::NoError)
                t->Drain();
            else
                t->Fail(r->errorString().toStdString());
            if (t->failure.empty()) {
                if (std::string s = t->StatusFailure(); !s.empty()) t->Fail(std::move(s));
            }
            // Qt reports a body cut short itself; this is a second guard
            // (not for compressed bodies, whose length is the packed one).
            if (t->failure.empty() && !r->hasRawHeader("Content-Encoding")) {
                const QVariant length = r->header(QNetworkRequest::ContentLengthHeader);
                if (length.isValid() && length.toULongLong() != t->received)
                    t->Fail("response ended after " + std::to_string(t->received) + " of " +
                            std::to_string(length.toULongLong()) + " bytes");
            }
            r->deleteLater();
        } else {
            t->Fail("transfer lost");
        }
        if (!t->file.flush() && t->failure.empty()) t->Fail("cannot write " + t->file.fileName().toStdString());
        t->file.close();
        auto finish = std::move(t->done);
        t->done = nullptr;
        if (finish) finish({t->failure.empty(), t->failure, t->overLimit});
    });
}

}  // namespace nebrin
