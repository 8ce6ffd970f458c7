// The settings dialog and the log window on the offscreen platform: what the
// fields show at creation and at each showing, the checks on OK, Cancel, and
// the log window's lines.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "connection/ConnectionLog.h"
#include "connection/UserSettings.h"
#include "connection/ui/TConnConfFrm.h"
#include "connection/ui/ThbLogFrm.h"

namespace nebrin {
namespace {

void EnsureApp() {
    static int argc = 1;
    static char name[] = "nebrin_connection_ui_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        new QApplication(argc, argv);
    }
}

class ConnConfFrmTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        dir =
            std::filesystem::temp_directory_path() / ("nebrin-cc-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        path = (dir / "user.ini").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Read() const {
        std::ifstream f(path, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    QPushButton* Button(QWidget& w, const QString& text) {
        for (auto* b : w.findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }
    // While the dialog runs: does `step`, then closes every message box that
    // comes up (counting them) until the dialog is gone.
    void WhileShown(TConnConfFrm& f, std::function<void()> step) {
        QTimer::singleShot(0, &f, [this, &f, step] {
            Drain(f);  // before the step: a message box it opens blocks it
            step();
        });
    }
    void Drain(TConnConfFrm& f) {
        QTimer::singleShot(10, &f, [this, &f] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                titles.push_back(box->windowTitle());
                texts.push_back(box->text());
                box->accept();
            }
            if (f.isVisible() && ++rounds < 50)
                Drain(f);
            else if (f.isVisible())
                f.reject();
        });
    }

    std::filesystem::path dir;
    std::string path;
    QStringList titles, texts;
    int rounds = 0;
};

TEST_F(ConnConfFrmTest, InitialTextsUntilShownThenStoredValues) {
    std::ofstream(path) << "[Other]\nx=1\n";
    TConnConfFrm f(nullptr, QString::fromStdString(path));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Konfiguracja połączenia"));
    EXPECT_EQ(f.size(), QSize(339, 360));
    EXPECT_EQ(f.UserName()->text(), "UserName");
    EXPECT_EQ(f.UserPassword()->text(), "UserPassword");
    EXPECT_EQ(f.CheckPassword()->text(), "UserPassword");
    EXPECT_EQ(f.ServerName()->text(), "ServerName");
    EXPECT_EQ(f.UserPassword()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(f.CheckPassword()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(f.UserName()->width(), 297);
    EXPECT_EQ(f.UserPassword()->width(), 204);

    // Showing empties the fields and loads what is stored.
    WhileShown(f, [&] {
        EXPECT_EQ(f.UserName()->text(), "");
        EXPECT_EQ(f.UserPassword()->text(), "");
        EXPECT_EQ(f.ServerName()->text(), "");
        f.reject();
    });
    EXPECT_FALSE(f.Execute());

    std::string error;
    ASSERT_TRUE(nebrin::SaveUserSettings(path, {"Łucja", "hasło", "usługa"}, &error));
    WhileShown(f, [&] {
        EXPECT_EQ(f.UserName()->text(), QStringLiteral("Łucja"));
        EXPECT_EQ(f.UserPassword()->text(), QStringLiteral("hasło"));
        EXPECT_EQ(f.CheckPassword()->text(), QStringLiteral("hasło"));
        EXPECT_EQ(f.ServerName()->text(), QStringLiteral("usługa"));
        f.reject();
    });
    EXPECT_FALSE(f.Execute());
}

TEST_F(ConnConfFrmTest, BothChecksShowTheirMessagesAndTheDialogStaysOpen) {
    TConnConfFrm f(nullptr, QString::fromStdString(path));
    bool stillOpen = false;
    WhileShown(f, [&] {
        f.UserName()->setText("");
        f.UserPassword()->setText("a");
        f.CheckPassword()->setText("b");
        QTimer::singleShot(200, &f, [&] {
            stillOpen = f.isVisible();
            EXPECT_EQ(f.UserPassword()->text(), "a");  // typed values stay
            f.reject();
        });
        Button(f, "&OK")->click();
    });
    EXPECT_FALSE(f.Execute());
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(titles, (QStringList{"Kontrola poprawności danych", "Kontrola poprawności danych"}));
    EXPECT_EQ(texts, (QStringList{"Proszę wprowadzić nazwę użytkownika.",
                                  "Dane w polach Hasło i Potwierdź hasło nie są jednakowe."}));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ConnConfFrmTest, OkSavesAndCancelWritesNothingButKeepsTheTexts) {
    TConnConfFrm f(nullptr, QString::fromStdString(path));
    WhileShown(f, [&] {
        f.UserName()->setText(QStringLiteral("żaneta"));
        f.UserPassword()->setText("");
        f.CheckPassword()->setText("whatever");  // an empty password needs no confirmation
        f.ServerName()->setText("svc");
        Button(f, "&OK")->click();
    });
    EXPECT_TRUE(f.Execute());
    EXPECT_TRUE(texts.isEmpty());
    const nebrin::StoredCredentials s = nebrin::LoadUserSettings(path, nullptr);
    EXPECT_EQ(s.userName, "żaneta");
    EXPECT_EQ(s.serverName, "svc");
    EXPECT_EQ(f.Texts(), (nebrin::Credentials{"żaneta", "", "svc"}));

    const std::string before = Read();
    WhileShown(f, [&] {
        f.UserName()->setText("inny");
        Button(f, "&Anuluj")->click();
    });
    EXPECT_FALSE(f.Execute());
    EXPECT_EQ(Read(), before);
    EXPECT_EQ(f.UserName()->text(), "inny");  // until the next showing reloads
}

TEST(ThbLogFrmTest, ShowsEarlierLinesAndEveryChangeWhileHidden) {
    EnsureApp();
    nebrin::ConnectionLog log;
    log.AddLine("Statystyki połączenia niedostępne !");
    {
        ThbLogFrm w(QStringLiteral("Nebrin"), nullptr, &log);
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Połączenie: Nebrin"));
        EXPECT_EQ(w.size(), QSize(341, 286));
        EXPECT_EQ(w.Text(), QStringLiteral("Statystyki połączenia niedostępne !"));
        log.Clear();
        log.AddLine("Przygotowanie do ustanowienia połączenia: Nebrin");
        w.AddLine(QStringLiteral("Łączenie: Opening Serial Port (0)"));
        EXPECT_FALSE(w.isVisible());
        w.show();
        EXPECT_EQ(w.Text(), QStringLiteral("Przygotowanie do ustanowienia połączenia: Nebrin\n"
                                           "Łączenie: Opening Serial Port (0)"));
        Q_EMIT w.findChildren<QPushButton*>().first()->clicked();
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(log.Lines().size(), 2u);
    }
    // The window is gone; the log goes on without it.
    log.AddLine("Rozłączony");
    EXPECT_EQ(log.Lines().size(), 3u);
}

}  // namespace
}  // namespace nebrin
