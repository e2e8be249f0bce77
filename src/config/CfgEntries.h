#pragma once

#include "config/CfgItems.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace tvx {

// What the configuration window's controls hold, without the window: the load
// turns a settings record into entries that the window puts into its
// controls, and the collection checks the entries read back from the controls
// and writes them into the record. Combo boxes are item indices (-1: none).
struct CfgEntries {
    QString devName;
    QString fmwVer;
    bool webEn = false;
    QString diolp;

    int baud = cfgitems::kBaud.defaultIndex;
    // A read rate that matched no item, offered as one more entry after the
    // table's items so that the box shows what a save will write.
    QString baudExtra;
    int parity = cfgitems::kParity.defaultIndex;
    int dataBits = cfgitems::kDataBits.defaultIndex;
    int stopBits = cfgitems::kStopBits.defaultIndex;
    int fc = cfgitems::kFlow.defaultIndex;
    int iface = cfgitems::kInterface.defaultIndex;

    // The load found a value that matched no item. As long as the selection
    // is still the one the load left, the value goes back as it was read.
    bool baudKept = false;
    bool fcKept = false;
    bool ifaceKept = false;
    bool opmodeKept = false;

    bool dpStrOn = false;
    QString dpStr0;
    QString dpStr1;
    bool dpTmOn = false;
    QString dpTm;
    bool dpLenOn = false;
    QString dpLen;
    // Unticking a packing box empties its edit: the window does it as the box
    // is clicked, the command line when it sets the boxes.
    void emptyUntickedPacking()
    {
        if (!dpStrOn) {
            dpStr0.clear();
            dpStr1.clear();
        }
        if (!dpTmOn)
            dpTm.clear();
        if (!dpLenOn)
            dpLen.clear();
    }

    int ipcfg = cfgitems::kIpMode.defaultIndex;
    // High byte = first field. No value: the control is left empty.
    std::optional<uint32_t> ip;
    std::optional<uint32_t> mask;
    std::optional<uint32_t> gw;
    bool pingEn = false;
    QString mac;
    QString lanStatus;

    int opmode = cfgitems::kOpMode.defaultIndex;
    QString tcpslport;
    std::optional<uint32_t> remoteIp;
    QString tcpcrport;
    int tcpcat = cfgitems::kConnectAt.defaultIndex;
};

} // namespace tvx
