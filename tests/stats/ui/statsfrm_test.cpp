#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPainter>

#include <cstdlib>
#include <string>

#include "stats/hbScope.h"
#include "stats/ui/TStatsFrm.h"
#include "storage/MivenINI.h"

namespace nebrin {
namespace {

void EnsureApp() {
    static int argc = 1;
    static char name[] = "nebrin_stats_ui_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        new QApplication(argc, argv);
    }
}

// Layout keys only (no colours): charts 100 and 60 wide.
const std::string kLayout =
    "[StatsWindow]\n"
    "StatsWindowWidth=200\nStatsWindowHeight=120\n"
    "DLChartTop=10\nDLChartLeft=5\nDLChartWidth=100\nDLChartHeight=30\n"
    "ULChartTop=60\nULChartLeft=5\nULChartWidth=60\nULChartHeight=20\n"
    "DownloadTop=0\nDownloadLeft=5\nUploadTop=45\nUploadLeft=5\n"
    "DLTotalTop=100\nDLTotalLeft=5\nULTotalTop=100\nULTotalLeft=100\n";

nebrin::TMivenINI Ini(const std::string& text) {
    nebrin::TMivenINI ini;
    ini.LoadFromBytes(std::string_view(text));
    return ini;
}

// Replaces or removes (value nullptr) one key line of the layout.
std::string With(const std::string& key, const char* value) {
    std::string text = kLayout;
    const std::size_t at = text.find("\n" + key + "=");
    const std::size_t end = text.find('\n', at + 1);
    text.erase(at + 1, end - at);
    if (value) text += key + "=" + value + "\n";
    return text;
}

QImage Solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

class StatsFrmTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }
};

TEST_F(StatsFrmTest, ThemeLaysOutTheWindowWithWhiteByDefault) {
    TStatsFrm frm;
    QString error;
    ASSERT_TRUE(frm.ApplyTheme(Ini(kLayout), Solid(200, 120, Qt::darkGreen), QImage(), &error)) << error.toStdString();
    EXPECT_EQ(frm.size(), QSize(200, 120));
    ASSERT_TRUE(frm.HasScopes());
    EXPECT_EQ(frm.DownloadScope()->Count(), 100);
    EXPECT_EQ(frm.UploadScope()->Count(), 60);

    frm.AddDownload(40);
    const QImage shot = frm.grab().toImage();
    // White bars on a white background in the chart, the background picture elsewhere.
    EXPECT_EQ(shot.pixelColor(5 + 99, 10 + 29), QColor(Qt::white));
    EXPECT_EQ(shot.pixelColor(5 + 10, 10 + 5), QColor(Qt::white));
    EXPECT_EQ(shot.pixelColor(150, 30), QColor(Qt::darkGreen));
    for (QLabel* label : frm.findChildren<QLabel*>())
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white)) << label->text().toStdString();
    QStringList captions;
    for (QLabel* label : frm.findChildren<QLabel*>())
        if (!label->text().isEmpty()) captions << label->text();
    EXPECT_EQ(captions, (QStringList{"DL:", "UL:", "Pobrano:", "Wysłano:"}));
}

TEST_F(StatsFrmTest, ColoursAreSystemColourNumbers) {
    // Red in the lowest byte: 255 is red, 16711680 is blue.
    TStatsFrm frm;
    ASSERT_TRUE(frm.ApplyTheme(Ini(kLayout + "DLChartColor=255\nDLChartBkg=16711680\nDownloadColor=65280\n"),
                               Solid(200, 120, Qt::black), QImage(), nullptr));
    frm.AddDownload(10);
    const QImage shot = frm.grab().toImage();
    EXPECT_EQ(shot.pixelColor(5 + 99, 10 + 29), QColor(255, 0, 0));  // bar
    EXPECT_EQ(shot.pixelColor(5 + 99, 10), QColor(0, 0, 255));       // top row: the end point, unpainted
    EXPECT_EQ(shot.pixelColor(5 + 50, 10 + 29), QColor(0, 0, 255));  // no sample there yet
    int green = 0;
    for (QLabel* label : frm.findChildren<QLabel*>())
        green += label->palette().color(QPalette::WindowText) == QColor(0, 255, 0);
    EXPECT_EQ(green, 2) << "DL: and its value";
}

TEST_F(StatsFrmTest, ABadRequiredKeyFailsAndKeepsTheLastGoodTheme) {
    TStatsFrm frm;
    frm.AddDownload(5);  // no theme yet: ignored, no scope to feed
    EXPECT_FALSE(frm.HasScopes());
    struct Case {
        const char* key;
        const char* value;
    };
    const Case cases[] = {{"StatsWindowHeight", nullptr}, {"DLChartWidth", "wide"}, {"ULTotalLeft", ""}};
    for (const Case& c : cases) {
        QString error;
        EXPECT_FALSE(frm.ApplyTheme(Ini(With(c.key, c.value)), QImage(), QImage(), &error)) << c.key;
        EXPECT_TRUE(error.contains(c.key)) << error.toStdString();
        EXPECT_FALSE(frm.HasScopes());
    }
    EXPECT_FALSE(frm.ApplyTheme(Ini(kLayout + "DLChartColor=red\n"), QImage(), QImage(), nullptr));

    ASSERT_TRUE(frm.ApplyTheme(Ini(kLayout), QImage(), QImage(), nullptr));
    frm.AddDownload(7);
    const nebrin::ThbScope* scope = frm.DownloadScope();
    EXPECT_FALSE(frm.ApplyTheme(Ini(With("DLChartWidth", "9x")), QImage(), QImage(), nullptr));
    EXPECT_EQ(frm.DownloadScope(), scope);
    EXPECT_EQ(scope->Samples().back(), 7);
    EXPECT_EQ(frm.size(), QSize(200, 120));
}

TEST_F(StatsFrmTest, ClosingOnlyHidesAndTheScopesGoOnScrolling) {
    TStatsFrm frm;
    ASSERT_TRUE(frm.ApplyTheme(Ini(kLayout), QImage(), QImage(), nullptr));
    frm.show();
    EXPECT_FALSE(frm.close());
    EXPECT_FALSE(frm.isVisible());
    ASSERT_TRUE(frm.HasScopes());
    frm.AddDownload(3);
    frm.AddUpload(4);
    frm.SetTexts("3 Kb/s", "4 Kb/s", "1KB", "2KB");
    EXPECT_EQ(frm.DownloadScope()->Samples().back(), 3);
    EXPECT_EQ(frm.UploadScope()->Samples().back(), 4);
    EXPECT_EQ(frm.WyslanoText(), "2KB");
    frm.show();
    EXPECT_EQ(frm.DownloadScope()->Samples()[98], 3) << "the history survives hide and show";
}

TEST_F(StatsFrmTest, TheMaskShapesTheWindow) {
    QImage mask = Solid(200, 120, Qt::magenta);
    QPainter(&mask).fillRect(QRect(20, 10, 50, 40), Qt::black);
    TStatsFrm frm;
    ASSERT_TRUE(frm.ApplyTheme(Ini(kLayout), QImage(), mask, nullptr));
    const QRegion shape = frm.mask();
    EXPECT_TRUE(shape.contains(QPoint(20, 10)));
    EXPECT_TRUE(shape.contains(QPoint(69, 49)));
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
    EXPECT_FALSE(shape.contains(QPoint(70, 30)));
    EXPECT_EQ(shape.boundingRect(), QRect(20, 10, 50, 40));
}

TEST_F(StatsFrmTest, DocksAboveTheMainWindowOrWhereItsOwnerSays) {
    QWidget main;
    main.setGeometry(300, 400, 300, 180);
    TStatsFrm frm;
    frm.SetMainWindow(&main);
    ASSERT_TRUE(frm.ApplyTheme(Ini(kLayout), QImage(), QImage(), nullptr));
    EXPECT_EQ(frm.pos(), QPoint(300, 400 - 120));

    // Where the owner's docking puts it, from the main window's frame and its
    // own size, and again when the main window moves.
    frm.SetDocking(
        [](const QRect& m, const QSize& own) { return QPoint(m.left() - own.width(), m.bottom() + 1 - own.height()); });
    frm.Dock();
    EXPECT_EQ(frm.pos(), QPoint(300 - 200, 400 + 180 - 120));
    main.move(320, 410);
    frm.Dock();
    EXPECT_EQ(frm.pos(), QPoint(320 - 200, 410 + 180 - 120));
}

}  // namespace
}  // namespace nebrin
