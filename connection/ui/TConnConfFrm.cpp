#include "connection/ui/TConnConfFrm.h"

#include <QPushButton>

#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"

TConnConfFrm::TConnConfFrm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Konfiguracja połączenia"));
    setFixedSize(339, 360);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setGeometry(174, 326, 75, 25);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Anuluj"), this);
    cancel->setGeometry(256, 326, 75, 25);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // The theme loading changed the pass phrase member by member; from here
    // on the credentials' phrase is the one in force.
    nebrin::SetPassPhrase(nebrin::CredentialsPassPhrase());
}

bool TConnConfFrm::Execute() { return exec() == QDialog::Accepted; }
