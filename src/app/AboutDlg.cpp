#include "AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "VelmarDoc.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About Velmar"));
    setAccessibleName(QStringLiteral("About Velmar"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(CVelmarDoc::AppIcon().pixmap(32, 32));
    icon->setAccessibleName(QStringLiteral("Velmar98 icon"));
    auto* text = new QLabel(QStringLiteral("Velmar98 Version 5.5"), this);
    text->setObjectName(QStringLiteral("versionLine"));
    row->addWidget(icon);
    row->addWidget(text, 1);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("IDOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}
