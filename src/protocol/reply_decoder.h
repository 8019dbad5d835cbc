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

// Baud rates the baud list offers, by list index.
inline constexpr std::array<std::uint32_t, 5> kOfferedBaudRates = {9600, 19200, 38400, 57600, 115200};

struct IdentityEffects {
  FixedText<64> ConnectionCaption;  // "Connected to ZRVXXX ver.: 1.25   NAME"
  FixedText<8> HardwareVersionText;
  // Reply 10 always enables polling.
};

struct ModbusListEffects {
  std::optional<int> BaudIndex;     // absent: leave the baud list as it is
  int ParityIndex = 0;
  std::optional<int> AddressIndex;  // absent: leave the address list as it is
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
