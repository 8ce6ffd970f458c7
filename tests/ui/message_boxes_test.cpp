// The program's boxes show their whole title: a box is never narrower than
// its title in the title bar's bold face, with room for the frame's buttons.
#include "ui/MessageBoxes.h"

#include <gtest/gtest.h>

#include <QFontMetrics>

#include "tests/QtTestApp.h"

namespace {

TEST(MessageBoxesTest, WideEnoughForTheWholeTitle) {
    nebrin::qttest::App({"message_boxes_test", false, false});
    const struct {
        const char* title;
        const char* text;
    } cases[] = {
        {"Kontrola poprawności danych", "Proszę wprowadzić nazwę użytkownika."},  // a short text
        {"Zamknij", "Połączenie jest aktywne."},                                  // a short title
    };
    for (const auto& c : cases) {
        nebrin::MessageBox box(QMessageBox::Warning, QString::fromUtf8(c.title), QString::fromUtf8(c.text),
                               QMessageBox::Ok, nullptr);
        box.show();
        QFont bold = box.font();
        bold.setBold(true);
        EXPECT_GE(box.width(), QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + 100) << c.title;
        // The text still fits as it did.
        EXPECT_GE(box.width(), QFontMetrics(box.font()).horizontalAdvance(QString::fromUtf8(c.text))) << c.title;
        box.hide();
    }
}

}  // namespace
