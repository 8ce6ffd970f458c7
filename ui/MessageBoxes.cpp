#include "ui/MessageBoxes.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTranslator>

#include "ui/WindowHints.h"

#include <algorithm>

namespace nebrin {

namespace {

// What a title bar holds beside the title: the window's icon and up to three
// buttons, with their spacing.
constexpr int kTitleBarExtra = 130;

}  // namespace

bool LoadToolkitPolish(QCoreApplication& app) {
    static bool tried = false;
    static bool loaded = false;
    if (tried) return loaded;
    tried = true;
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_pl"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    loaded = true;
    return true;
}

QString PolishButtonText(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok: return QStringLiteral("OK");
        case QMessageBox::Cancel: return QStringLiteral("Anuluj");
        case QMessageBox::Yes: return QStringLiteral("Tak");
        case QMessageBox::No: return QStringLiteral("Nie");
        case QMessageBox::Close: return QStringLiteral("Zamknij");
        default: return {};
    }
}

MessageBox::MessageBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons, QWidget* parent)
    : QMessageBox(icon, title, text, buttons, parent) {
    MakeDialog(this);
    for (QAbstractButton* b : this->buttons()) {
        const QString polish = PolishButtonText(standardButton(b));
        if (!polish.isEmpty()) b->setText(polish);
    }
}

void MessageBox::showEvent(QShowEvent* event) {
    // Wide enough for the whole title beside the frame's buttons: a window
    // manager cuts a longer one short. The box sizes itself to its layout
    // (in QMessageBox::showEvent), so a spacer of that width joins it.
    if (!titleSpacer_) {
        QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
        titleFont.setBold(true);
        const int title = std::max(QFontMetrics(titleFont).horizontalAdvance(windowTitle()),
                                   QFontMetrics(font()).horizontalAdvance(windowTitle()) * 5 / 4);
        const QMargins m = layout() ? layout()->contentsMargins() : QMargins();
        const int width = title + kTitleBarExtra - m.left() - m.right();
        if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
            titleSpacer_ = new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
            grid->addItem(titleSpacer_, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    // Sized now, and not yet on the screen.
    QMessageBox::showEvent(event);
    CentreOnScreenOf(this, parentWidget());
}

QMessageBox::StandardButton ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
    // A box may come before the translation was loaded for the other windows.
    if (QCoreApplication* app = QCoreApplication::instance()) LoadToolkitPolish(*app);
    MessageBox box(icon, title, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace nebrin
