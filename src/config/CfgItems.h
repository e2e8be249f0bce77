#pragma once

#include <array>
#include <span>

namespace tvx {

// The items of one combo box of the configuration window, in their order, and
// the item selected before anything is loaded (-1: none).
struct ComboTable {
    std::span<const char* const> items;
    int defaultIndex;
};

namespace cfgitems {

inline constexpr std::array<const char*, 13> kBaudItems = {
    "921600", "460800", "230400", "115200", "57600", "38400", "19200",
    "9600",   "7200",   "4800",   "2400",   "1200",  "300"};
inline constexpr std::array<const char*, 5> kParityItems = {"NONE", "EVEN", "ODD", "SPACE", "MARK"};
inline constexpr std::array<const char*, 4> kDataBitsItems = {"5", "6", "7", "8"};
inline constexpr std::array<const char*, 2> kStopBitsItems = {"1", "2"};
inline constexpr std::array<const char*, 3> kFlowItems = {"NONE", "RTS/CTS", "XON/XOFF"};
inline constexpr std::array<const char*, 2> kInterfaceItems = {"RS-232", "RS-485"};
inline constexpr std::array<const char*, 2> kIpModeItems = {"Static", "DHCP"};
inline constexpr std::array<const char*, 2> kOpModeItems = {"TCP Server", "TCP Client"};
// What the module calls the modes above, item by item.
inline constexpr std::array<const char*, 2> kOpModeCodes = {"TS", "TC"};
inline constexpr std::array<const char*, 2> kConnectAtItems = {"Startup", "Serial data in"};

inline constexpr ComboTable kBaud{kBaudItems, 3};
inline constexpr ComboTable kParity{kParityItems, 0};
inline constexpr ComboTable kDataBits{kDataBitsItems, 3};
inline constexpr ComboTable kStopBits{kStopBitsItems, 0};
inline constexpr ComboTable kFlow{kFlowItems, 0};
// Starts without a selection; its box shows "RS-232" all the same.
inline constexpr ComboTable kInterface{kInterfaceItems, -1};
inline constexpr ComboTable kIpMode{kIpModeItems, 0};
// Starts without a selection; its box shows "TCP Server" all the same.
inline constexpr ComboTable kOpMode{kOpModeItems, -1};
inline constexpr ComboTable kConnectAt{kConnectAtItems, 0};

inline constexpr const char* kInterfaceShownText = "RS-232";
inline constexpr const char* kOpModeShownText = "TCP Server";

inline constexpr int kIpModeDhcp = 1;
inline constexpr int kOpModeServer = 0;
inline constexpr int kOpModeClient = 1;
inline constexpr int kConnectAtSerialData = 1;

} // namespace cfgitems

// The first item of `table` whose text equals `text` exactly, or -1.
int findItem(const ComboTable& table, const char* text);

// Data format characters to item indices and back. A character the module
// should not send (a lower-case parity letter, a data bit count of 9) selects
// the default item, as the window always did.
int parityIndexFromChar(char c);
int dataBitsIndexFromChar(char c);
int stopBitsIndexFromChar(char c);
char parityCharFromIndex(int index);

} // namespace tvx
