#include "app/AboutBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace tvx {

namespace {
const char kAboutText[] =
    "<p><b>Tarvanix Utility %1</b></p>"
    "<p>Finds, configures, upgrades and reboots serial-to-Ethernet device-server modules on "
    "the local IPv4 network.</p>"
    "<p>Copyright &copy; 2026 Tarvanix Utility developers</p>"
    "<p>This program is free software: you can redistribute it and/or modify it under the "
    "terms of the GNU General Public License as published by the Free Software Foundation, "
    "either version 3 of the License, or (at your option) any later version.</p>"
    "<p>It is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; "
    "without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR "
    "PURPOSE. See the <a href=\"https://www.gnu.org/licenses/gpl-3.0.html\">GNU General "
    "Public License</a> for more details.</p>";
} // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("About Tarvanix Utility"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/tarvanix/tarvanix-utility.png")).pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    auto* text =
        new QLabel(QString::fromLatin1(kAboutText).arg(QStringLiteral(TARVANIX_VERSION)), this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setWordWrap(true);
    text->setOpenExternalLinks(true);
    text->setTextInteractionFlags(Qt::TextBrowserInteraction);
    text->setMinimumWidth(380);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::showFor(QWidget* parent)
{
    if (auto* shown = parent->findChild<AboutBox*>(QString(), Qt::FindDirectChildrenOnly)) {
        shown->raise();
        shown->activateWindow();
        return;
    }
    auto* box = new AboutBox(parent);
    box->open();
}

} // namespace tvx
