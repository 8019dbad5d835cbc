// What the operator reads because of a decoded reply: the connection caption and hardware version
// of an identity reply, the positions of the three Modbus lists, the register preview's texts, and
// the texts of the device list and the connection status field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_state.h"
#include "protocol/reply_decoder.h"
#include "view/fixed_text.h"
#include "view/live_view_model.h"
#include "view/register_table.h"

namespace zrv {

inline constexpr std::uint32_t kStartBaudrate = 38400;  // selected until the first settings reply
// Index of a list left with no selection.
inline constexpr int kNoSelection = -1;

inline constexpr std::string_view kNoConnectionText = "No connection";
inline constexpr std::string_view kDisconnectedText = "Disconnected";
inline constexpr std::string_view kConnectedText = "Connected";

// The tool's version, as the window's caption and zrv-cli --version show it.
inline constexpr std::string_view kVersionText = "1.02";

struct IdentityTexts {
  FixedText<64> ConnectionCaption;  // "Connected to ZRVXXX ver.: 1.25   NAME"
  FixedText<8> HardwareVersionText;
};
IdentityTexts IdentityView(const DeviceState& state, char decimalSeparator);

// A value that a list cannot show leaves that list with no selection (kNoSelection), so the window
// never shows a setting the driver did not report, and Save cannot send one.
struct ModbusListPositions {
  int BaudIndex = kNoSelection;
  int ParityIndex = 0;
  int AddressIndex = kNoSelection;
};
ModbusListPositions ModbusListView(const ModbusSettings& settings);

struct RegisterTexts {
  FixedText<8> OkFramesText;
  std::array<FixedText<12>, kRegisterRowCount> ValueTexts;  // column 2 of rows 1..15
};
RegisterTexts RegisterView(const RegisterBlock& block, std::uint16_t goodFrames);

// The text of a device list item: the product string as 8-bit text (characters above 0xFF become
// '?'), or "Device VID=%04X PID=%04X" when the device has none.
std::string DeviceItemText(const std::u16string& product, std::uint16_t vendorId,
                           std::uint16_t productId);

}  // namespace zrv
