#pragma once

#include "app/AppWindows.h"
#include "common/FakeNetTables.h"
#include "common/ScriptedPrompter.h"
#include "config/Cfgfrm.h"
#include "handover/RecordText.h"
#include "protocol/SettingsRecord.h"

#include <QByteArray>

#include <cstring>
#include <memory>

namespace tvx::test {

// A module's settings as a read would leave them: static address, TCP server,
// no packing. Tests change single fields with set().
inline SettingsRecord sampleRecord(const char* ip = "192.0.2.10",
                                   const char* mac = "02:00:00:00:06:01")
{
    SettingsRecord r;
    std::memset(&r, 0, sizeof r);
    storeField(r.devName, "Lab-1");
    storeField(r.fmwVer, "1.05b");
    r.webEn = 1;
    storeField(r.diolp, "5001");
    storeField(r.sp0_baud, "115200");
    storeField(r.sp0_dataFmt, "N81");
    storeField(r.sp0_fc, "NONE");
    storeField(r.sp0_if, "RS-232");
    storeField(r.sp0_dpCtrl, "000");
    storeField(r.sp0_dpLen, "512");
    storeField(r.sp0_dpTm, "100");
    storeField(r.sp0_dpStr, "0D0A");
    storeField(r.lanIp, ip);
    storeField(r.lanMask, "255.255.255.0");
    storeField(r.lanGw, "192.0.2.1");
    storeField(r.lanIpCfg, "0");
    storeField(r.lanPingEn, "1");
    storeField(r.lanMac, mac);
    storeField(r.lanStatus, "100M Full");
    storeField(r.sp0_opmode, "TS");
    storeField(r.sp0_tcpslport, "4000");
    storeField(r.sp0_tcpcrip, "0.0.0.0");
    storeField(r.sp0_tcpcrport, "4000");
    storeField(r.sp0_tcpcat, "0");
    return r;
}

// A main window as the program creates it, with scripted prompts and fake
// host tables; it is never shown, so no search can start.
struct CfgHarness {
    ScriptedPrompter prompter;
    FakeNetTables tables;
    std::unique_ptr<TmainForm> mainForm;

    CfgHarness()
    {
        AppEnvironment env;
        env.prompter = &prompter;
        env.netTables = unownedTables(tables);
        mainForm = createAppWindows(env);
    }

    // A configuration window as the main window opens it, shown (loaded).
    TcfgForm* open(const SettingsRecord& record, const char* mac = nullptr,
                   TcfgForm::AddressControlFactory factory = {})
    {
        auto* form = new TcfgForm(mainForm.get(), mainForm->configWindowLinks(),
                                  mac ? mac : record.lanMac, record, std::move(factory));
        form->show();
        return form;
    }
};

} // namespace tvx::test
