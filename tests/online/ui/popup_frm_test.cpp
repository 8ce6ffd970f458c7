#include "online/ui/TPopupFrm.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include <QLabel>
#include <QPushButton>

#include "online/ui/OnlineServices.h"
#include "online/ui/TUpdateFrm.h"
#include "storage/MivenINI.h"
#include "ui_support.h"

namespace nebrin {
namespace {

using testing::App;
using testing::TinyHttpServer;
using testing::WaitUntil;

class PopupFrmTest : public ::testing::Test {
protected:
    // Loads a page and waits for the window's verdict.
    bool Load(const PopupPage& page) {
        std::optional<bool> verdict;
        const auto c = QObject::connect(&frm_, &TPopupFrm::PageLoaded, [&](bool ok) { verdict = ok; });
        frm_.ShowPage(page);
        if (!verdict) {
            EXPECT_FALSE(frm_.IsShowing());  // not before the page is there
        }
        EXPECT_TRUE(WaitUntil([&] { return verdict.has_value(); }, 60'000));
        QObject::disconnect(c);
        return verdict.value_or(false);
    }

    bool app_ = (App(), true);
    TinyHttpServer server_;
    TPopupFrm frm_;
};

TEST_F(PopupFrmTest, Design) {
    EXPECT_EQ(frm_.windowTitle(), "Informacja");
    EXPECT_EQ(frm_.size(), QSize(330, 263));
    EXPECT_EQ(frm_.BottomPanel()->height(), 41);
    EXPECT_EQ(frm_.CloseBtn()->text(), "&Zamknij");
    EXPECT_EQ(frm_.CloseBtn()->size(), QSize(75, 25));
    EXPECT_EQ(frm_.CloseBtn()->y(), 9);
    EXPECT_EQ(frm_.CloseBtn()->x(), (330 - 75) / 2);
    EXPECT_FALSE(frm_.isVisible());

    TUpdateFrm update;
    EXPECT_EQ(update.windowTitle(), "Autualizacja");
    EXPECT_EQ(update.size(), QSize(341, 208));
    EXPECT_EQ(update.Image1()->geometry(), QRect(8, 8, 105, 105));
}

// Shown only once the page has loaded, at the asked size, with the close
// button centred; closing hides the window and a later page shows it again.
TEST_F(PopupFrmTest, ShownWhenThePageHasLoaded) {
    server_.routes["/info"] = {200, "<html><body>Informacja</body></html>"};
    const PopupPage page{420, 240, server_.Url("info").toStdString()};
    ASSERT_TRUE(Load(page));
    EXPECT_TRUE(frm_.IsShowing());
    EXPECT_EQ(frm_.size(), QSize(420, 240));
    EXPECT_EQ(frm_.PageURL(), server_.Url("info"));
    EXPECT_EQ(frm_.CloseBtn()->x(), (420 - 75) / 2);

    frm_.CloseBtn()->click();
    EXPECT_FALSE(frm_.isVisible());
    ASSERT_TRUE(Load(page));
    EXPECT_TRUE(frm_.isVisible());
    frm_.close();
}

// A page that fails never shows the window.
TEST_F(PopupFrmTest, FailedPageStaysHidden) {
    TinyHttpServer closed;
    const QString unreachable = closed.Url("info");
    closed.close();
    server_.routes["/missing"] = {404, "<html><body>Not found</body></html>"};
    server_.routes["/broken"] = {500, "<html><body>Server error</body></html>"};
    for (const std::string& url : {unreachable.toStdString(), server_.Url("missing").toStdString(),
                                   server_.Url("broken").toStdString(), std::string(), std::string("::not a url::")}) {
        EXPECT_FALSE(Load(PopupPage{600, 300, url})) << url;
        EXPECT_FALSE(frm_.isVisible()) << url;
    }
}

// The popup service runs its 500 ms timer only while connected with the
// popup switched on and an alarm left.
TEST(PopupService, TimerFollowsTheLooks) {
    App();
    ManualClock clock(1'710'072'000'000);
    TMivenINI ini;
    TPopupFrm frm;
    bool busy = true;
    for (const auto& [enabled, kind, runs] :
         {std::tuple{true, 1, true}, std::tuple{true, 7, false}, std::tuple{false, 1, false}}) {
        PopupService service(clock, ini, frm, [&] { return busy; });
        service.Configure(enabled, kind);
        EXPECT_FALSE(service.CheckTimerActive());
        service.SetOnlineLook(true);
        EXPECT_EQ(service.CheckTimerActive(), runs) << kind;
        service.SetOnlineLook(false);
        EXPECT_FALSE(service.CheckTimerActive());
    }
}

}  // namespace
}  // namespace nebrin
