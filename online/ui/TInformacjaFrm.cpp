#include "online/ui/TInformacjaFrm.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/WindowHints.h"

namespace nebrin {

namespace {

QLabel* Label(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

}  // namespace

QString TInformacjaFrm::ProductPage() { return QStringLiteral("https://www.example.net/nebrin/"); }

TInformacjaFrm::TInformacjaFrm(const QStringList& licence, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Informacja"));
    nebrin::MakeDialog(this);
    setFixedSize(343, 281);

    auto* top = new QFrame(this);
    top->setGeometry(0, 0, 343, 241);
    top->setFrameShape(QFrame::StyledPanel);
    top->setFrameShadow(QFrame::Raised);
    top->setAutoFillBackground(true);
    QPalette pal = top->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    top->setPalette(pal);

    auto* logo = new QLabel(top);
    logo->setGeometry(17, 22, 64, 64);
    logo->setPixmap(
        QPixmap(QStringLiteral(":/nebrin.png")).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    logo->setAccessibleName(QStringLiteral("Logo Nebrin"));

    QLabel* name = Label(top, QStringLiteral("Nebrin"), 88, 16);
    QFont bold = name->font();
    bold.setWeight(QFont::Bold);
    name->setFont(bold);
    name->adjustSize();
    version_ = new QLabel(top);
    version_->setGeometry(137, 16, 32, name->height());
    version_->setAccessibleName(QStringLiteral("Wersja"));

    Label(top, QStringLiteral("Program do obsługi połączeń z internetem."), 88, 32);
    Label(top, QStringLiteral("Dostarczany abonentom przez operatora."), 88, 48);
    Label(top, QStringLiteral("Odwiedź naszą stronę w internecie:"), 88, 64);
    QLabel* link = Label(top, QStringLiteral("<a href=\"%1\">Nebrin</a>").arg(ProductPage()), 88, 80);
    link->setTextFormat(Qt::RichText);
    link->setCursor(Qt::PointingHandCursor);
    link->adjustSize();
    // Opened by the desktop's handler; the result is not waited for.
    connect(link, &QLabel::linkActivated, this, [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });

    auto* group = new QGroupBox(QStringLiteral("Informacje o licencji"), top);
    group->setGeometry(7, 111, 325, 106);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(2, 2, 2, 2);
    license_ = new QPlainTextEdit(group);
    license_->setReadOnly(true);
    license_->setAccessibleName(group->title());
    license_->setFrameShape(QFrame::NoFrame);
    license_->setPlainText(licence.join(QLatin1Char('\n')));
    layout->addWidget(license_);

    auto* close = new QPushButton(QStringLiteral("&Zamknij"), this);
    close->setGeometry(137, 247, 75, 25);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void TInformacjaFrm::SetVersion(const QString& version) { version_->setText(version); }

QString TInformacjaFrm::Version() const { return version_->text(); }

QString TInformacjaFrm::LicenceText() const { return license_->toPlainText(); }

void TInformacjaFrm::Execute() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    // Centred on the screen, not over the small main window.
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    exec();
}

}  // namespace nebrin
