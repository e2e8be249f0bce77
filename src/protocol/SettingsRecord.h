#pragma once

#include <cstdint>

namespace tvx {

// All settings of one module as fixed-size, zero-terminated ASCII text fields
// and two one-byte flags. Values stay text from reply to control and back;
// only the configuration window interprets them. Zero-filled before use.
struct SettingsRecord {
    char devName[20];
    char fmwVer[20];
    char sp0_baud[28];
    char sp0_dataFmt[20];
    char sp0_fc[20];
    char sp0_if[30];
    char sp0_dpCtrl[20];
    char sp0_dpLen[20];
    char sp0_dpTm[20];
    char sp0_dpStr[20];
    char lanIp[20];
    char lanMask[20];
    char lanGw[20];
    char lanIpCfg[10];
    char lanPingEn[21];
    char lanMac[20];
    char lanStatus[30];
    char sp0_opmode[20];
    char sp0_tcpslport[20];
    char sp0_tcpcrip[40];
    char sp0_tcpcrport[31];
    char sp0_tcpcat[10];
    char passwd[10];
    char newPasswd[10];
    uint8_t passwdChg;
    uint8_t webEn;
    char diolp[10];
};

} // namespace tvx
