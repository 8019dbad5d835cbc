#include "view/reply_view.h"

#include <algorithm>
#include <cstdio>

#include "view/number_format.h"

namespace zrv {

IdentityTexts IdentityView(const DeviceState& state, char decimalSeparator) {
  const DeviceIdentity& identity = state.Identity;
  IdentityTexts texts;
  texts.ConnectionCaption.Append("Connected to ")
      .Append(kDriverProductString)
      .Append(" ver.: ")
      .Append(VersionText(identity.FirmwareVer, decimalSeparator).View())
      .Append("   ")
      .Append(std::string_view(identity.DeviceName.data(),
                               static_cast<std::size_t>(std::find(identity.DeviceName.begin(),
                                                                  identity.DeviceName.end(), '\0') -
                                                        identity.DeviceName.begin())));
  texts.HardwareVersionText = VersionText(identity.HardwareVer, decimalSeparator);
  return texts;
}

ModbusListPositions ModbusListView(const ModbusSettings& record) {
  // Copied out of the packed record: binding a reference to a packed field is misaligned.
  const ModbusSettings settings = record;
  const std::uint32_t baudrate = settings.Baudrate;
  ModbusListPositions lists;
  const auto baud = std::find(kOfferedBaudRates.begin(), kOfferedBaudRates.end(), baudrate);
  if (baud != kOfferedBaudRates.end()) {
    lists.BaudIndex = static_cast<int>(baud - kOfferedBaudRates.begin());
  }
  lists.ParityIndex = std::min<int>(settings.Parity, kHighestParity);
  // Slave 0 selects "1"; an address above the list has no entry to show.
  const int address = settings.SlaveId;
  if (address <= kHighestSlaveId) {
    lists.AddressIndex = std::max(address - 1, 0);
  }
  return lists;
}

RegisterTexts RegisterView(const RegisterBlock& block, std::uint16_t goodFrames) {
  RegisterTexts texts;
  texts.OkFramesText = FixedText<8>(DecimalText(goodFrames).View());
  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    texts.ValueTexts[row] = RegisterValueText(block, kRegisterTable[row]);
  }
  return texts;
}

std::string DeviceItemText(const std::u16string& product, std::uint16_t vendorId,
                           std::uint16_t productId) {
  if (product.empty()) {
    char text[32];
    std::snprintf(text, sizeof text, "Device VID=%04X PID=%04X", static_cast<unsigned>(vendorId),
                  static_cast<unsigned>(productId));
    return text;
  }
  std::string text;
  text.reserve(product.size());
  for (const char16_t c : product) {
    text.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  }
  return text;
}

}  // namespace zrv
