// Decoding of input reports into DeviceState, and what the window must show because of them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "device_state.h"
#include "fixed_text.h"
#include "register_table.h"

namespace zrv {

inline constexpr std::string_view kDriverProductString = "ZRVXXX";
inline constexpr std::string_view kSettingsSavedText = "Ustawienia Modbus zapisane";

// Baud rates the baud list offers, by list index; the window fills the list from these.
inline constexpr std::array<std::uint32_t, 5> kOfferedBaudRates = {9600, 19200, 38400, 57600, 115200};
inline constexpr std::uint32_t kStartBaudrate = 38400;  // selected until the first settings reply
// Slave addresses the address list offers: "1" to this, at indices 0 to this - 1.
inline constexpr int kHighestSlaveId = 127;
// Index of a list left with no selection.
inline constexpr int kNoSelection = -1;

struct IdentityEffects {
  FixedText<64> ConnectionCaption;  // "Connected to ZRVXXX ver.: 1.25   NAME"
  FixedText<8> HardwareVersionText;
  // Reply 10 always enables polling.
};

// A value that a list cannot show leaves that list with no selection (kNoSelection), so the window
// never shows a setting the driver did not report, and Save cannot send one.
struct ModbusListEffects {
  int BaudIndex = kNoSelection;
  int ParityIndex = 0;
  int AddressIndex = kNoSelection;
};

struct RegisterEffects {
  FixedText<8> OkFramesText;
  std::array<FixedText<12>, kRegisterRowCount> ValueTexts;  // column 2 of rows 1..15
};

struct ReplyEffects {
  enum class Kind { None, Identity, Status, Registers, ModbusSettings, SettingsSaved };
  Kind kind = Kind::None;
  IdentityEffects Identity;   // kind == Identity
  ModbusListEffects Lists;    // kind == ModbusSettings
  RegisterEffects Registers;  // kind == Registers
  // kind == SettingsSaved: show kSettingsSavedText in the status line.
};

// Decodes one input report's data (data[0] is the command code, `size` the bytes delivered after
// the report ID) into `state` and says what the window must do. A reply too short for its code,
// and any unknown code, changes nothing and gives Kind::None.
ReplyEffects DecodeReply(DeviceState& state, const std::uint8_t* data, std::size_t size,
                         char decimalSeparator);

}  // namespace zrv
