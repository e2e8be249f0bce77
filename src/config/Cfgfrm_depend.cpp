// The configuration window's control dependencies: the controls that switch
// others on or off, and the states they switch them between.
#include "config/Cfgfrm.h"

#include "config/CfgItems.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>

namespace tvx {

void TcfgForm::CmbBox_ipcfgChange()
{
    setAddressControlsEnabled(CmbBox_ipcfg->currentIndex() != cfgitems::kIpModeDhcp);
}

void TcfgForm::CmbBox_sp0_opmodeChange()
{
    Panel0_tcps->hide();
    Panel0_tcpc->hide();
    const QString text = CmbBox_sp0_opmode->currentText();
    if (text == QLatin1String(cfgitems::kOpModeItems[cfgitems::kOpModeServer]))
        Panel0_tcps->show();
    else if (text == QLatin1String(cfgitems::kOpModeItems[cfgitems::kOpModeClient]))
        Panel0_tcpc->show();
}

void TcfgForm::ChkBox_sp0_dp_lenClick()
{
    setEditActive(Edit_sp0_dp_len, ChkBox_sp0_dp_len->isChecked());
}

void TcfgForm::ChkBox_sp0_dp_tmClick()
{
    setEditActive(Edit_sp0_dp_tm, ChkBox_sp0_dp_tm->isChecked());
}

void TcfgForm::ChkBox_sp0_dp_strClick()
{
    const bool on = ChkBox_sp0_dp_str->isChecked();
    setEditActive(Edit_sp0_dp_str0, on);
    setEditActive(Edit_sp0_dp_str1, on);
}

// Kept for a second serial port that this model does not have; no control
// calls them.
void TcfgForm::CmbBox_sp1_opmodeChange() {}
void TcfgForm::ChkBox_sp1_dp_lenClick() {}
void TcfgForm::ChkBox_sp1_dp_tmClick() {}
void TcfgForm::ChkBox_sp1_dp_strClick() {}

void TcfgForm::setAddressControlsEnabled(bool enabled)
{
    // Only the enabled state changes: the addresses and the tick stay.
    for (int i = 0; i < 3; ++i) {
        if (Ipv4AddressEdit* c = ipControls_[static_cast<size_t>(i)])
            c->setEnabled(enabled);
    }
    CkBox_pingEn->setEnabled(enabled);
}

void TcfgForm::showOperationPanel(int opmode)
{
    Panel0_tcps->setVisible(opmode == cfgitems::kOpModeServer);
    Panel0_tcpc->setVisible(opmode == cfgitems::kOpModeClient);
}

void TcfgForm::setEditActive(QLineEdit* edit, bool active)
{
    // Active: enabled on the window colour. Inactive: disabled on the
    // button-face colour and emptied, so re-ticking gives an empty edit.
    const QPalette standard = palette();
    QPalette pal = edit->palette();
    const QColor base = active ? standard.color(QPalette::Active, QPalette::Base)
                               : standard.color(QPalette::Active, QPalette::Button);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, base);
    edit->setPalette(pal);
    edit->setEnabled(active);
    if (!active)
        edit->clear();
}

} // namespace tvx
