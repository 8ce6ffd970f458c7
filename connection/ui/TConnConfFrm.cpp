#include "connection/ui/TConnConfFrm.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>

#include "ui/MessageBoxes.h"
#include "ui/SkinFonts.h"
#include "ui/WindowHints.h"
#include "connection/ConnectionLog.h"
#include "connection/UserSettings.h"
#include "storage/hbCrypt.h"

namespace nebrin {

namespace {

QString Q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// The header picture: a globe with a cable, 64 x 64, 24-bit.
QImage HeaderPicture() {
    QImage img(64, 64, QImage::Format_RGB888);
    img.fill(QColor(255, 255, 255));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient sea(QPointF(24, 22), 30);
    sea.setColorAt(0, QColor(120, 180, 240));
    sea.setColorAt(1, QColor(20, 70, 160));
    p.setBrush(sea);
    p.setPen(QPen(QColor(15, 50, 120), 1.5));
    p.drawEllipse(QRectF(6, 4, 44, 44));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(210, 230, 255), 1.2));
    p.drawEllipse(QRectF(18, 4, 20, 44));
    p.drawLine(QPointF(28, 4), QPointF(28, 48));
    p.drawLine(QPointF(6, 26), QPointF(50, 26));
    p.drawLine(QPointF(10, 14), QPointF(46, 14));
    p.drawLine(QPointF(10, 38), QPointF(46, 38));
    QPainterPath cable;
    cable.moveTo(44, 44);
    cable.cubicTo(52, 52, 40, 58, 54, 60);
    p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 160, 60));
    p.drawRoundedRect(QRectF(50, 54, 12, 9), 2, 2);
    return img;
}

QLabel* Label(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit* Edit(QWidget* parent, const char* name, const QString& text, int x, int y, int width, bool masked) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(x, y, width, 21);
    if (masked) {
        e->setEchoMode(QLineEdit::Password);
        e->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 88; }"));  // 'X'
    }
    return e;
}

}  // namespace

TConnConfFrm::TConnConfFrm(QWidget* parent, const QString& userIniPath)
    : QDialog(parent), path_(userIniPath.isEmpty() ? nebrin::UserIniPath() : userIniPath.toStdString()) {
    setWindowTitle(QStringLiteral("Konfiguracja połączenia"));
    nebrin::MakeDialog(this);
    setFont(SkinFonts::Tahoma(11));
    setFixedSize(339, 360);

    // Header: picture and the two lines on the highlight colour.
    auto* header = new QWidget(this);
    header->setGeometry(0, 0, 339, 70);
    header->setAutoFillBackground(true);
    QPalette pal = header->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Highlight));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::HighlightedText));
    header->setPalette(pal);
    auto* picture = new QLabel(header);
    picture->setGeometry(4, 4, 64, 62);
    picture->setPixmap(QPixmap::fromImage(HeaderPicture()));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QLabel* title = Label(header, QStringLiteral("Kreator nowego połączenia PPPoE"), 76, 16);
    title->setFont(SkinFonts::Tahoma(11, true));
    title->adjustSize();
    Label(header, QStringLiteral("Proszę wprowadzić dane otrzymane wraz z umową."), 76, 38);

    // One page, one group of fields.
    auto* pages = new QTabWidget(this);
    pages->setGeometry(4, 72, 331, 250);
    pages->setAccessibleName(QStringLiteral("Połączenie"));
    auto* page = new QWidget;
    pages->addTab(page, QStringLiteral("Połączenie"));
    auto* group = new QGroupBox(QStringLiteral("Parametry połączenia"), page);
    group->setGeometry(4, 4, 317, 208);
    // Each field is named by its label (and reached with Alt and the
    // underlined letter).
    QLabel* nameLabel = Label(group, QStringLiteral("&Nazwa użytkownika:"), 10, 20);
    userName_ = Edit(group, "UserName", QStringLiteral("UserName"), 10, 36, 297, false);
    QLabel* passwordLabel = Label(group, QStringLiteral("&Hasło:"), 10, 64);
    userPassword_ = Edit(group, "UserPassword", QStringLiteral("UserPassword"), 10, 80, 204, true);
    QLabel* checkLabel = Label(group, QStringLiteral("&Potwierdź hasło:"), 10, 108);
    checkPassword_ = Edit(group, "CheckPassword", QStringLiteral("UserPassword"), 10, 124, 204, true);
    QLabel* serverLabel = Label(group, QStringLiteral("Nazwa &usługi:"), 10, 152);
    serverName_ = Edit(group, "ServerName", QStringLiteral("ServerName"), 10, 168, 297, false);
    nameLabel->setBuddy(userName_);
    passwordLabel->setBuddy(userPassword_);
    checkLabel->setBuddy(checkPassword_);
    serverLabel->setBuddy(serverName_);
    picture->setAccessibleName(QStringLiteral("Kreator połączenia"));
    header->setAccessibleName(title->text());

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setGeometry(174, 326, 75, 25);
    // Enter accepts whatever the platform's theme says about default buttons.
    ok->setAutoDefault(true);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Anuluj"), this);
    cancel->setGeometry(256, 326, 75, 25);
    connect(ok, &QPushButton::clicked, this, &TConnConfFrm::OkClick);
    connect(cancel, &QPushButton::clicked, this, &TConnConfFrm::CancelClick);

    for (QLineEdit* e : {userName_, userPassword_, checkPassword_, serverName_}) e->installEventFilter(this);

    Load();
}

namespace {

bool IsEnter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* k = static_cast<const QKeyEvent*>(event);
    return (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) &&
           (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

}  // namespace

void TConnConfFrm::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event)) {
        OkClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TConnConfFrm::eventFilter(QObject* watched, QEvent* event) {
    if (IsEnter(event)) {
        OkClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TConnConfFrm::Load() {
    std::vector<std::string> problems;
    const nebrin::StoredCredentials s = nebrin::LoadUserSettings(path_, &problems);
    for (const std::string& line : problems) nebrin::ProgramLog().AddLine(line);
    if (s.userName) userName_->setText(QString::fromStdString(*s.userName));
    if (s.password) {
        userPassword_->setText(QString::fromStdString(*s.password));
        checkPassword_->setText(userPassword_->text());
    }
    if (s.serverName) serverName_->setText(QString::fromStdString(*s.serverName));
}

void TConnConfFrm::showEvent(QShowEvent* event) {
    // Every showing starts from what is stored.
    if (!event->spontaneous()) {
        for (QLineEdit* e : {userName_, userPassword_, checkPassword_, serverName_}) e->clear();
        Load();
        userName_->setFocus();
        nebrin::CentreOnScreenOf(this, parentWidget());
    }
    QDialog::showEvent(event);
}

bool TConnConfFrm::Execute() {
    accepted_ = false;
    exec();
    return accepted_;
}

nebrin::Credentials TConnConfFrm::Texts() const {
    return {userName_->text().toStdString(), userPassword_->text().toStdString(), serverName_->text().toStdString()};
}

void TConnConfFrm::OkClick() {
    const std::vector<std::string> messages =
        nebrin::ValidateSettings(userName_->text().toStdString(), userPassword_->text().toStdString(),
                                 checkPassword_->text().toStdString(), serverName_->text().toStdString());
    for (const std::string& m : messages) {
        nebrin::ShowMessage(this, QMessageBox::Warning, Q(nebrin::kValidationTitle), QString::fromStdString(m),
                            QMessageBox::Ok);
    }
    if (!messages.empty()) return;
    accepted_ = true;
    std::string error;
    if (!nebrin::SaveUserSettings(path_, Texts(), &error)) {
        // The texts still serve this run (the dial and the phonebook entry);
        // the user is told that they were not kept.
        nebrin::ShowMessage(
            this, QMessageBox::Warning, windowTitle(),
            QStringLiteral("Nie udało się zapisać ustawień połączenia.\n") + QString::fromStdString(error),
            QMessageBox::Ok);
    }
    accept();
}

void TConnConfFrm::CancelClick() {
    accepted_ = false;
    reject();
}

}  // namespace nebrin
