#include "connection/ui/ThbLogFrm.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/SkinFonts.h"
#include "ui/WindowHints.h"

namespace nebrin {

ThbLogFrm::ThbLogFrm(const QString& entryName, QWidget* parent, nebrin::ConnectionLog* log)
    : QDialog(parent), log_(log ? log : &nebrin::ProgramLog()) {
    setWindowTitle(QStringLiteral("Połączenie: ") + entryName);
    nebrin::MakeDialog(this);
    setFont(SkinFonts::Tahoma(11));
    setFixedSize(341, 286);
    auto* group = new QGroupBox(QStringLiteral("Dziennik połączenia"), this);
    group->setGeometry(8, 8, 323, 239);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(3, 3, 3, 3);
    memo_ = new QPlainTextEdit(group);
    memo_->setObjectName(QStringLiteral("Memo"));
    memo_->setAccessibleName(group->title());
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Long lines (the server's refusal texts) wrap: no sideways scrolling.
    memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(memo_);
    auto* close = new QPushButton(QStringLiteral("&Zamknij"), this);
    close->setGeometry(132, 253, 75, 25);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);

    // Lines written before the window existed (the start-up checks).
    for (const std::string& line : log_->Lines()) LineAdded(line);
    log_->SetListener(this);
}

ThbLogFrm::~ThbLogFrm() { log_->SetListener(nullptr); }

void ThbLogFrm::Clear() { log_->Clear(); }

void ThbLogFrm::AddLine(const QString& text) { log_->AddLine(text.toStdString()); }

QString ThbLogFrm::Text() const { return memo_->toPlainText(); }

void ThbLogFrm::LineAdded(const std::string& line) { memo_->appendPlainText(QString::fromStdString(line)); }

void ThbLogFrm::Cleared() { memo_->clear(); }

void ThbLogFrm::showEvent(QShowEvent* event) {
    // Centred on the screen the first time; where the user left it after.
    if (!placed_) {
        placed_ = true;
        nebrin::CentreOnScreenOf(this, parentWidget());
    }
    QDialog::showEvent(event);
}

}  // namespace nebrin
