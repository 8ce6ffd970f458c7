// The provider's page as assistive technologies and the keyboard reach it in
// the dialer's window: its pieces in reading order, links that ask to be
// followed by their place in the page read, arrow keys among the links.
#include "ui/PageReader.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QKeyEvent>

#include <utility>
#include <vector>

#include "tests/QtTestApp.h"

namespace {

using nebrin::PageReader;
using nebrin::web::PagePiece;

const std::vector<PagePiece> kPage = {
    {"Witaj w sieci", ""},
    {"Cennik usług", "https://example.net/cennik"},
    {"albo", ""},
    {"Pomoc", "https://example.net/pomoc"},
    {"Regulamin", "https://example.net/regulamin"},
};

struct Fixture {
    Fixture() : reader(QStringLiteral("Strona dostawcy"), &window) {
        QObject::connect(&reader, &PageReader::FollowLink, [this](std::int64_t generation, std::size_t index) {
            followed.emplace_back(generation, index);
        });
        reader.setGeometry(0, 0, 200, 100);
        window.resize(200, 100);
        window.show();
    }
    QWidget window;
    PageReader reader;
    std::vector<std::pair<std::int64_t, std::size_t>> followed;
};

void Key(QWidget* to, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &press);
}

TEST(PageReaderTest, ReadsThePiecesInOrderAndPressingALinkAsksForIt) {
    nebrin::qttest::App({"page_reader_test", false, false});
    Fixture f;
    f.reader.SetPage(7, kPage);
    QAccessibleInterface* page = QAccessible::queryAccessibleInterface(&f.reader);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->text(QAccessible::Name), QStringLiteral("Strona dostawcy"));
    EXPECT_EQ(page->text(QAccessible::Description), QStringLiteral("Witaj w sieci Cennik usług albo Pomoc Regulamin"));
    ASSERT_EQ(page->childCount(), static_cast<int>(kPage.size()));
    for (int i = 0; i < page->childCount(); ++i) {
        QAccessibleInterface* piece = page->child(i);
        const PagePiece& want = kPage[static_cast<std::size_t>(i)];
        EXPECT_EQ(piece->text(QAccessible::Name).toStdString(), want.text) << i;
        EXPECT_EQ(piece->role(), want.IsLink() ? QAccessible::Link : QAccessible::StaticText) << i;
        if (want.IsLink()) {
            EXPECT_EQ(piece->text(QAccessible::Description).toStdString(), want.target) << i;
        }
    }
    // The press action names the link by its place among the pieces.
    QAccessibleActionInterface* pomoc = page->child(3)->actionInterface();
    ASSERT_NE(pomoc, nullptr);
    ASSERT_TRUE(pomoc->actionNames().contains(QAccessibleActionInterface::pressAction()));
    pomoc->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(f.followed, (std::vector<std::pair<std::int64_t, std::size_t>>{{7, 3}}));

    // The same page read again keeps its children, under the new reading.
    QObject* before = page->child(3)->object();
    f.reader.SetPage(8, kPage);
    ASSERT_EQ(page->child(3)->object(), before);
    page->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(f.followed.back(), (std::pair<std::int64_t, std::size_t>{8, 3}));

    // Another page replaces them; an empty one leaves none.
    f.reader.SetPage(9, {{"Cennik: 50 zł", ""}});
    ASSERT_EQ(page->childCount(), 1);
    EXPECT_EQ(page->child(0)->role(), QAccessible::StaticText);
    f.reader.Clear();
    EXPECT_EQ(page->childCount(), 0);
    EXPECT_TRUE(page->text(QAccessible::Description).isEmpty());
}

TEST(PageReaderTest, ArrowKeysWalkTheLinksAndEnterFollowsOne) {
    nebrin::qttest::App({"page_reader_test", false, false});
    Fixture f;
    f.reader.SetPage(3, kPage);
    auto focused = [&f] {
        const QWidget* w = f.window.focusWidget();
        return w ? w->accessibleName() : QString();
    };
    // The page is one Tab stop; the links are reached from it.
    EXPECT_EQ(f.reader.focusPolicy(), Qt::TabFocus);
    f.reader.setFocus();
    const struct {
        int key;
        const char* then;
    } walk[] = {
        {Qt::Key_Down, "Cennik usług"}, {Qt::Key_Down, "Pomoc"},    {Qt::Key_Right, "Regulamin"},
        {Qt::Key_Down, "Regulamin"},    {Qt::Key_Up, "Pomoc"},      {Qt::Key_Home, "Cennik usług"},
        {Qt::Key_Left, "Cennik usług"}, {Qt::Key_End, "Regulamin"},
    };
    for (const auto& step : walk) {
        Key(f.window.focusWidget(), step.key);
        EXPECT_EQ(focused(), QString::fromUtf8(step.then)) << step.key;
    }
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) Key(f.window.focusWidget(), key);
    EXPECT_EQ(f.followed, (std::vector<std::pair<std::int64_t, std::size_t>>(3, {3, 4})));
}

}  // namespace
