// The vendor requests of the controller's Billboard device and the small
// device operations built directly on them. Every request is paced by a 1 ms
// busy-wait; a failed transfer prints the request's own line and returns 0.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

// bmRequestType of the two directions.
inline constexpr uint8_t kVendorIn = 0xC0;
inline constexpr uint8_t kVendorOut = 0x40;

// Sends one control transfer after the 1 ms pacing; true on success. No
// message: callers print their request's line.
bool VendorTransfer(Tool& t, UsbLink& h, uint8_t type, uint8_t request, uint16_t value,
                    uint16_t index, uint16_t length, uint8_t* data);

uint32_t ReadRegister(Tool& t, UsbLink& h, uint16_t a, uint8_t& value, bool echo);
uint32_t WriteRegister(Tool& t, UsbLink& h, uint16_t a, uint8_t value, bool echo);
uint32_t ReadRegisterBlock(Tool& t, UsbLink& h, uint16_t a, uint8_t* out, uint8_t n, bool echo);
uint32_t WriteRegisterBlock(Tool& t, UsbLink& h, uint16_t a, const uint8_t* in, uint8_t n,
                            bool echo);
uint32_t ReadRegisterBlockDescending(Tool& t, UsbLink& h, uint16_t a, uint8_t* out, uint8_t n,
                                     bool echo);
uint32_t WriteRegisterBlockDescending(Tool& t, UsbLink& h, uint16_t a, const uint8_t* in, uint8_t n,
                                      bool echo);
uint32_t SetRegisterBits(Tool& t, UsbLink& h, uint16_t a, uint8_t mask);
uint32_t PollRegister(Tool& t, UsbLink& h, uint16_t a, uint8_t mask, uint8_t expected);
uint32_t VdrWrite(Tool& t, UsbLink& h, uint8_t code, bool echo);
uint32_t I2cWriteCommand(Tool& t, UsbLink& h, uint8_t command, uint16_t length,
                         const uint8_t* data);
uint32_t I2cReadCommand(Tool& t, UsbLink& h, uint8_t command, uint8_t index, uint16_t length,
                        uint8_t* out);
uint32_t ReadTaskStatus(Tool& t, UsbLink& h, uint16_t length, uint8_t* out);
void GetUsbAddress(Tool& t, UsbLink& h);
uint32_t ReadChipIdentity(Tool& t, UsbLink& h, uint8_t d, bool echo);
uint32_t SetGpio(Tool& t, UsbLink& h, uint8_t n, uint8_t level);
uint32_t I2cTestMode(Tool& t, UsbLink& h, uint8_t mode);

}  // namespace pdflash
