#include "connection/ui/ThbLogFrm.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

ThbLogFrm::ThbLogFrm(const QString& entryName, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Połączenie: ") + entryName);
    setFixedSize(341, 286);
    auto* group = new QGroupBox(QStringLiteral("Dziennik połączenia"), this);
    group->setGeometry(8, 8, 323, 239);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(3, 3, 3, 3);
    memo_ = new QPlainTextEdit(group);
    memo_->setReadOnly(true);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(memo_);
    auto* close = new QPushButton(QStringLiteral("&Zamknij"), this);
    close->setGeometry(132, 253, 75, 25);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
}

void ThbLogFrm::Clear() { memo_->clear(); }

void ThbLogFrm::AddLine(const QString& text) { memo_->appendPlainText(text); }

QString ThbLogFrm::Text() const { return memo_->toPlainText(); }
