#include "app/ui/MainStatus.h"

#include <QLabel>

#include <chrono>

#include "app/MainConnectState.h"
#include "connection/ConnectionLog.h"
#include "connection/hbRas.h"
#include "stats/RasPer.h"
#include "stats/RasStatsLoader.h"
#include "stats/ui/TStatsFrm.h"
#include "base/Cp1250.h"

namespace nebrin {

namespace {

// Milliseconds of a free-running 32-bit counter.
std::uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QString Text(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

MainStatus::MainStatus(const Window& window, const std::string& offlinePage, const std::string& onlineUrl,
                       QObject* parent)
    : QObject(parent),
      window_(window),
      offlinePage_(QString::fromStdString(offlinePage)),
      onlineUrl_(QString::fromStdString(Cp1250ToUtf8(onlineUrl))),
      counter_(std::make_unique<TRasPer>(RasPlatformLevel(), SystemRasPerSources())) {
    if (auto line = StartTrafficStatistics(*counter_)) ProgramLog().AddLine(*line);
}

MainStatus::~MainStatus() = default;

void MainStatus::Attach(TRasCon& ras, ConnectWorkflow& workflow, MainLogic& logic) {
    // Only read for the watched handle; the workflow changes the flags.
    flags_ = std::make_unique<MainConnectState>(logic, nullptr, nullptr, nullptr);
    state_ = std::make_unique<WorkflowTickerState>(workflow, *flags_);
    ITickerView& view = *this;
    ticker_ = std::make_unique<StatusTicker>(ras, *counter_, *state_, view, &TickCount, RasPlatformLevel());
    ticker_->ResetBaselines();
}

void MainStatus::SetPane(QObject* pane) {
    pane_ = pane;
    ShowPage();
}

void MainStatus::Tick() {
    if (ticker_) ticker_->Tick();
}

void MainStatus::ShowPage() {
    // The pane is the web module's view or nebrin-web's host: Navigate is
    // called by name.
    if (pane_) QMetaObject::invokeMethod(pane_, "Navigate", Q_ARG(QString, online_ ? onlineUrl_ : offlinePage_));
}

void MainStatus::OnlineLook() {
    if (window_.onlineLook) window_.onlineLook();
}

void MainStatus::NavigateOnline() {
    online_ = true;
    ShowPage();
}

void MainStatus::NavigateOffline() {
    online_ = false;
    ShowPage();
}

void MainStatus::ShowSpeeds(std::string_view download, std::string_view upload) {
    for (auto [label, text] : {std::pair{window_.downloadLabel, download}, std::pair{window_.uploadLabel, upload}}) {
        if (!label) continue;
        label->setText(Text(text));
        label->adjustSize();
    }
}

void MainStatus::FeedStats(const StatsFeed& feed) {
    // Fed whether the window shows or not: its scopes keep scrolling.
    if (!stats_) return;
    stats_->AddDownload(ScopeValue(feed.download));
    stats_->AddUpload(ScopeValue(feed.upload));
    stats_->SetTexts(Text(feed.dl), Text(feed.ul), Text(feed.received), Text(feed.sent));
}

}  // namespace nebrin

// moc output needs TStatsFrm complete (QPointer<TStatsFrm>), as it is here.
#include "moc_MainStatus.cpp"
