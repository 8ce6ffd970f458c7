// QtHttpFetcher: downloads for the update check over Qt Network, with the
// system's proxy settings, into a file, while the message loop runs.
//
// A download succeeds only when the final response (after redirects that do
// not drop from https to http) has a 2xx status, its whole body arrived (as
// long as Content-Length said, when it said) and the body stayed within the
// size limit; the body is written to the file as it arrives. A transfer that
// stalls for longer than the transfer timeout fails, and so does one still
// running at its deadline, so neither a silent nor a trickling server can
// hold the update check for long.
#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <string>

#include "online/Update.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace nebrin {

class QtHttpFetcher : public QObject, public nebrin::IHttpFetcher {
    Q_OBJECT
public:
    static constexpr int kDefaultTransferTimeoutMs = 60'000;

    explicit QtHttpFetcher(QObject* parent = nullptr);
    ~QtHttpFetcher() override;

    void Start(const std::string& url, const std::string& path, std::uint64_t maxBytes, int deadlineMs,
               Done done) override;

    // Downloads under way.
    int Pending() const { return pending_; }

private:
    QNetworkAccessManager* manager_;
    // Longest time without any data before a transfer fails.
    int transferTimeoutMs_ = kDefaultTransferTimeoutMs;
    int pending_ = 0;
};

}  // namespace nebrin
