#include "core/mbus/MbusTables.h"

#include <QStringList>
#include <array>

namespace trelmo::mbus::inline records {

namespace {

using R = ValueRule;
using A = VifeAction;

// The primary VIF table (extension bit masked off). 0x7B, 0x7C and 0x7D (the extension
// tables and the plain-text unit) are handled by the decoder before a look-up here.
constexpr VifEntry kPrimary[] = {
    {0x00, 0x07, "Energy", "Wh", -3, R::Scaled},
    {0x08, 0x0F, "Energy", "J", 0, R::Scaled},
    {0x10, 0x17, "Volume", "m³", -6, R::Scaled},
    {0x18, 0x1F, "Mass", "kg", -3, R::Scaled},
    {0x20, 0x23, "On time", "s", 0, R::Duration},
    {0x24, 0x27, "Operating time", "s", 0, R::Duration},
    {0x28, 0x2F, "Power", "W", -3, R::Scaled},
    {0x30, 0x37, "Power", "J/h", 0, R::Scaled},
    {0x38, 0x3F, "Volume flow", "m³/h", -6, R::Scaled},
    {0x40, 0x47, "Volume flow", "m³/min", -7, R::Scaled},
    {0x48, 0x4F, "Volume flow", "m³/s", -9, R::Scaled},
    {0x50, 0x57, "Mass flow", "kg/h", -3, R::Scaled},
    {0x58, 0x5B, "Flow temperature", "°C", -3, R::Scaled},
    {0x5C, 0x5F, "Return temperature", "°C", -3, R::Scaled},
    {0x60, 0x63, "Temperature difference", "K", -3, R::Scaled},
    {0x64, 0x67, "External temperature", "°C", -3, R::Scaled},
    {0x68, 0x6B, "Pressure", "bar", -3, R::Scaled},
    {0x6C, 0x6C, "Date", "", 0, R::Date},
    {0x6D, 0x6D, "Date and time", "", 0, R::Date},
    {0x6E, 0x6E, "Units for HCA", "HCA", 0, R::Plain},
    {0x6F, 0x6F, "Reserved VIF", "", 0, R::Reserved},
    {0x70, 0x73, "Averaging duration", "s", 0, R::Duration},
    {0x74, 0x77, "Actuality duration", "s", 0, R::Duration},
    {0x78, 0x78, "Fabrication number", "", 0, R::Plain},
    {0x79, 0x79, "Enhanced identification", "", 0, R::Plain},
    {0x7A, 0x7A, "Bus address", "", 0, R::Plain},
    {0x7E, 0x7E, "Any VIF", "", 0, R::Plain},
    {0x7F, 0x7F, "Manufacturer specific", "", 0, R::Plain},
};

// The extension table behind VIF 0xFD: its code is the first VIFE.
constexpr VifEntry kFd[] = {
    {0x00, 0x03, "Credit", "currency units", -3, R::Scaled},
    {0x04, 0x07, "Debit", "currency units", -3, R::Scaled},
    {0x08, 0x08, "Access number", "", 0, R::Plain},
    {0x09, 0x09, "Medium", "", 0, R::Plain},
    {0x0A, 0x0A, "Manufacturer", "", 0, R::Plain},
    {0x0B, 0x0B, "Parameter set identification", "", 0, R::Plain},
    {0x0C, 0x0C, "Model / version", "", 0, R::Plain},
    {0x0D, 0x0D, "Hardware version", "", 0, R::Plain},
    {0x0E, 0x0E, "Firmware version", "", 0, R::Plain},
    {0x0F, 0x0F, "Software version", "", 0, R::Plain},
    {0x10, 0x10, "Customer location", "", 0, R::Plain},
    {0x11, 0x11, "Customer", "", 0, R::Plain},
    {0x12, 0x12, "Access code user", "", 0, R::Plain},
    {0x13, 0x13, "Access code operator", "", 0, R::Plain},
    {0x14, 0x14, "Access code system operator", "", 0, R::Plain},
    {0x15, 0x15, "Access code developer", "", 0, R::Plain},
    {0x16, 0x16, "Password", "", 0, R::Plain},
    {0x17, 0x17, "Error flags", "", 0, R::Plain},
    {0x18, 0x18, "Error mask", "", 0, R::Plain},
    {0x19, 0x19, "Security key", "", 0, R::Plain},
    {0x1A, 0x1A, "Digital output", "", 0, R::Plain},
    {0x1B, 0x1B, "Digital input", "", 0, R::Plain},
    {0x1C, 0x1C, "Baud rate", "Bd", 0, R::Plain},
    {0x1D, 0x1D, "Response delay time", "bit times", 0, R::Plain},
    {0x1E, 0x1E, "Retry", "", 0, R::Plain},
    {0x1F, 0x1F, "Remote control", "", 0, R::Plain},
    {0x20, 0x20, "First storage number for cyclic storage", "", 0, R::Plain},
    {0x21, 0x21, "Last storage number for cyclic storage", "", 0, R::Plain},
    {0x22, 0x22, "Size of storage block", "", 0, R::Plain},
    {0x23, 0x23, "Descriptor for tariff and subunit", "", 0, R::Plain},
    {0x24, 0x27, "Storage interval", "s", 0, R::Duration},
    {0x28, 0x28, "Storage interval", "month", 0, R::Plain},
    {0x29, 0x29, "Storage interval", "year", 0, R::Plain},
    {0x2A, 0x2A, "Operator specific data", "", 0, R::Plain},
    {0x2B, 0x2B, "Time point second", "s", 0, R::Plain},
    {0x2C, 0x2F, "Duration since last readout", "s", 0, R::Duration},
    {0x30, 0x30, "Start of tariff", "", 0, R::Date},
    {0x31, 0x33, "Duration of tariff", "s", 0, R::Duration},
    {0x34, 0x37, "Period of tariff", "s", 0, R::Duration},
    {0x38, 0x38, "Period of tariff", "month", 0, R::Plain},
    {0x39, 0x39, "Period of tariff", "year", 0, R::Plain},
    {0x3A, 0x3A, "Dimensionless", "", 0, R::Plain},
    {0x3B, 0x3B, "Data container for wireless M-Bus protocol", "", 0, R::Plain},
    {0x3C, 0x3F, "Period of nominal data transmissions", "s", 0, R::Duration},
    {0x40, 0x4F, "Voltage", "V", -9, R::Scaled},
    {0x50, 0x5F, "Current", "A", -12, R::Scaled},
    {0x60, 0x60, "Reset counter", "", 0, R::Plain},
    {0x61, 0x61, "Cumulation counter", "", 0, R::Plain},
    {0x62, 0x62, "Control signal", "", 0, R::Plain},
    {0x63, 0x63, "Day of week", "", 0, R::Plain},
    {0x64, 0x64, "Week number", "", 0, R::Plain},
    {0x65, 0x65, "Time point of day change", "", 0, R::Plain},
    {0x66, 0x66, "State of parameter activation", "", 0, R::Plain},
    {0x67, 0x67, "Special supplier information", "", 0, R::Plain},
    {0x68, 0x6B, "Duration since last cumulation", "s", 0, R::LongDuration},
    {0x6C, 0x6F, "Operating time battery", "s", 0, R::LongDuration},
    {0x70, 0x70, "Date and time of battery change", "", 0, R::Date},
    {0x71, 0x71, "RF level", "dBm", 0, R::Plain},
    {0x72, 0x72, "Daylight saving", "", 0, R::Plain},
    {0x73, 0x73, "Listening window management", "", 0, R::Plain},
    {0x74, 0x74, "Remaining battery life time", "d", 0, R::Plain},
    {0x75, 0x75, "Number of times the meter was stopped", "", 0, R::Plain},
    {0x76, 0x76, "Data container for manufacturer specific protocol", "", 0, R::Plain},
    {0x77, 0x7F, "Reserved VIF extension", "", 0, R::Reserved},
};

// The extension table behind VIF 0xFB. Large units are given in the primary table's unit
// (MWh as Wh, GJ as J, t as kg, MW as W) with the exponent moved accordingly.
constexpr VifEntry kFb[] = {
    {0x00, 0x01, "Energy", "Wh", 5, R::Scaled},
    {0x02, 0x03, "Reactive energy", "VARh", 3, R::Scaled},
    {0x04, 0x07, "Reserved VIF extension", "", 0, R::Reserved},
    {0x08, 0x09, "Energy", "J", 8, R::Scaled},
    {0x0A, 0x0B, "Reserved VIF extension", "", 0, R::Reserved},
    {0x0C, 0x0F, "Energy", "MCal", -1, R::Scaled},
    {0x10, 0x11, "Volume", "m³", 2, R::Scaled},
    {0x12, 0x13, "Reserved VIF extension", "", 0, R::Reserved},
    {0x14, 0x17, "Reactive power", "VAR", 0, R::Scaled},
    {0x18, 0x19, "Mass", "kg", 5, R::Scaled},
    {0x1A, 0x1B, "Relative humidity", "%", -1, R::Scaled},
    {0x1C, 0x1F, "Reserved VIF extension", "", 0, R::Reserved},
    {0x20, 0x20, "Volume", "ft³", 0, R::Scaled},
    {0x21, 0x21, "Volume", "ft³", -1, R::Scaled},
    {0x22, 0x23, "Volume", "US gal", -1, R::Scaled},
    {0x24, 0x24, "Volume flow", "US gal/min", -3, R::Scaled},
    {0x25, 0x25, "Volume flow", "US gal/min", 0, R::Scaled},
    {0x26, 0x26, "Volume flow", "US gal/h", 0, R::Scaled},
    {0x27, 0x27, "Reserved VIF extension", "", 0, R::Reserved},
    {0x28, 0x29, "Power", "W", 5, R::Scaled},
    {0x2A, 0x2A, "Phase U-U", "°", -1, R::Scaled},
    {0x2B, 0x2B, "Phase U-I", "°", -1, R::Scaled},
    {0x2C, 0x2F, "Frequency", "Hz", -3, R::Scaled},
    {0x30, 0x31, "Power", "J/h", 8, R::Scaled},
    {0x32, 0x57, "Reserved VIF extension", "", 0, R::Reserved},
    {0x58, 0x5B, "Flow temperature", "°F", -3, R::Scaled},
    {0x5C, 0x5F, "Return temperature", "°F", -3, R::Scaled},
    {0x60, 0x63, "Temperature difference", "°F", -3, R::Scaled},
    {0x64, 0x67, "External temperature", "°F", -3, R::Scaled},
    {0x68, 0x6F, "Reserved VIF extension", "", 0, R::Reserved},
    {0x70, 0x73, "Cold / warm temperature limit", "°F", -3, R::Scaled},
    {0x74, 0x77, "Cold / warm temperature limit", "°C", -3, R::Scaled},
    {0x78, 0x7F, "Cumulative count max power", "W", -3, R::Scaled},
};

constexpr VifeEntry kVife[] = {
    {0x00, 0x1F, "record error", "", 0, A::RecordError},
    {0x20, 0x20, "per second", "/s", 0, A::PerUnit},
    {0x21, 0x21, "per minute", "/min", 0, A::PerUnit},
    {0x22, 0x22, "per hour", "/h", 0, A::PerUnit},
    {0x23, 0x23, "per day", "/d", 0, A::PerUnit},
    {0x24, 0x24, "per week", "/week", 0, A::PerUnit},
    {0x25, 0x25, "per month", "/month", 0, A::PerUnit},
    {0x26, 0x26, "per year", "/year", 0, A::PerUnit},
    {0x27, 0x27, "per revolution / measurement", "/rev", 0, A::PerUnit},
    {0x28, 0x28, "increment per input pulse on input channel 0", "", 0, A::Note},
    {0x29, 0x29, "increment per input pulse on input channel 1", "", 0, A::Note},
    {0x2A, 0x2A, "increment per output pulse on output channel 0", "", 0, A::Note},
    {0x2B, 0x2B, "increment per output pulse on output channel 1", "", 0, A::Note},
    {0x2C, 0x2C, "per litre", "/l", 0, A::PerUnit},
    {0x2D, 0x2D, "per m³", "/m³", 0, A::PerUnit},
    {0x2E, 0x2E, "per kg", "/kg", 0, A::PerUnit},
    {0x2F, 0x2F, "per K", "/K", 0, A::PerUnit},
    {0x30, 0x30, "per kWh", "/kWh", 0, A::PerUnit},
    {0x31, 0x31, "per GJ", "/GJ", 0, A::PerUnit},
    {0x32, 0x32, "per kW", "/kW", 0, A::PerUnit},
    {0x33, 0x33, "per K·l", "/(K·l)", 0, A::PerUnit},
    {0x34, 0x34, "per V", "/V", 0, A::PerUnit},
    {0x35, 0x35, "per A", "/A", 0, A::PerUnit},
    {0x36, 0x36, "multiplied by s", "·s", 0, A::TimesUnit},
    {0x37, 0x37, "multiplied by s/V", "·s/V", 0, A::TimesUnit},
    {0x38, 0x38, "multiplied by s/A", "·s/A", 0, A::TimesUnit},
    {0x39, 0x39, "start date (and time) of", "", 0, A::DateOf},
    {0x3A, 0x3A, "uncorrected unit", "", 0, A::Note},
    {0x3B, 0x3B, "accumulation only if positive contributions", "", 0, A::Note},
    {0x3C, 0x3C, "accumulation of abs value only if negative contributions", "", 0, A::Note},
    {0x3D, 0x3D, "reserved VIFE", "", 0, A::Reserved},
    {0x3E, 0x3E, "value at base conditions", "", 0, A::Note},
    {0x3F, 0x3F, "OBIS declaration", "", 0, A::Note},
    {0x40, 0x40, "lower limit value", "", 0, A::Note},
    {0x41, 0x41, "number of exceeds of lower limit", "", 0, A::CountOf},
    {0x42, 0x42, "date (and time) of begin of first lower limit exceed", "", 0, A::DateOf},
    {0x43, 0x43, "date (and time) of end of first lower limit exceed", "", 0, A::DateOf},
    {0x44, 0x45, "reserved VIFE", "", 0, A::Reserved},
    {0x46, 0x46, "date (and time) of begin of last lower limit exceed", "", 0, A::DateOf},
    {0x47, 0x47, "date (and time) of end of last lower limit exceed", "", 0, A::DateOf},
    {0x48, 0x48, "upper limit value", "", 0, A::Note},
    {0x49, 0x49, "number of exceeds of upper limit", "", 0, A::CountOf},
    {0x4A, 0x4A, "date (and time) of begin of first upper limit exceed", "", 0, A::DateOf},
    {0x4B, 0x4B, "date (and time) of end of first upper limit exceed", "", 0, A::DateOf},
    {0x4C, 0x4D, "reserved VIFE", "", 0, A::Reserved},
    {0x4E, 0x4E, "date (and time) of begin of last upper limit exceed", "", 0, A::DateOf},
    {0x4F, 0x4F, "date (and time) of end of last upper limit exceed", "", 0, A::DateOf},
    {0x50, 0x53, "duration of first lower limit exceed", "", 0, A::DurationOf},
    {0x54, 0x57, "duration of last lower limit exceed", "", 0, A::DurationOf},
    {0x58, 0x5B, "duration of first upper limit exceed", "", 0, A::DurationOf},
    {0x5C, 0x5F, "duration of last upper limit exceed", "", 0, A::DurationOf},
    {0x60, 0x63, "duration of first", "", 0, A::DurationOf},
    {0x64, 0x67, "duration of last", "", 0, A::DurationOf},
    {0x68, 0x68, "value during lower limit exceed", "", 0, A::Note},
    {0x69, 0x69, "leakage values", "", 0, A::Note},
    {0x6A, 0x6A, "date (and time) of begin of first", "", 0, A::DateOf},
    {0x6B, 0x6B, "date (and time) of end of first", "", 0, A::DateOf},
    {0x6C, 0x6C, "value during upper limit exceed", "", 0, A::Note},
    {0x6D, 0x6D, "overflow values", "", 0, A::Note},
    {0x6E, 0x6E, "date (and time) of begin of last", "", 0, A::DateOf},
    {0x6F, 0x6F, "date (and time) of end of last", "", 0, A::DateOf},
    {0x70, 0x77, "multiplicative correction factor", "", -6, A::Exponent},
    {0x78, 0x7B, "additive correction constant", "", -3, A::Additive},
    {0x7C, 0x7C, "combinable extension", "", 0, A::Extension},
    {0x7D, 0x7D, "multiplicative correction factor", "", 3, A::Exponent},
    {0x7E, 0x7E, "future value", "", 0, A::Note},
    {0x7F, 0x7F, "manufacturer specific", "", 0, A::Manufacturer},
};

constexpr DataFieldEntry kDataFields[16] = {
    {"no data", 0},           {"8-bit integer", 1},    {"16-bit integer", 2},
    {"24-bit integer", 3},    {"32-bit integer", 4},   {"32-bit real", 4},
    {"48-bit integer", 6},    {"64-bit integer", 8},   {"selection for readout", 0},
    {"2-digit BCD", 1},       {"4-digit BCD", 2},      {"6-digit BCD", 3},
    {"8-digit BCD", 4},       {"variable length", -1}, {"12-digit BCD", 6},
    {"special function", -2},
};

constexpr CodeName kMedia[] = {
    {0x00, "Other"},
    {0x01, "Oil"},
    {0x02, "Electricity"},
    {0x03, "Gas"},
    {0x04, "Heat (outlet)"},
    {0x05, "Steam"},
    {0x06, "Warm water (30-90 °C)"},
    {0x07, "Water"},
    {0x08, "Heat cost allocator"},
    {0x09, "Compressed air"},
    {0x0A, "Cooling load meter (outlet)"},
    {0x0B, "Cooling load meter (inlet)"},
    {0x0C, "Heat (inlet)"},
    {0x0D, "Heat / cooling load meter"},
    {0x0E, "Bus / system component"},
    {0x0F, "Unknown medium"},
    {0x10, "Irrigation water"},
    {0x11, "Water data logger"},
    {0x12, "Gas data logger"},
    {0x13, "Gas converter"},
    {0x14, "Calorific value"},
    {0x15, "Hot water (≥ 90 °C)"},
    {0x16, "Cold water"},
    {0x17, "Dual register (hot/cold) water meter"},
    {0x18, "Pressure"},
    {0x19, "A/D converter"},
    {0x1A, "Smoke detector"},
    {0x1B, "Room sensor"},
    {0x1C, "Gas detector"},
    {0x20, "Breaker (electricity)"},
    {0x21, "Valve (gas or water)"},
    {0x25, "Customer unit (display device)"},
    {0x28, "Waste water"},
    {0x29, "Garbage"},
    {0x2A, "Carbon dioxide"},
    {0x30, "Service tool"},
    {0x31, "Communication controller"},
    {0x32, "Unidirectional repeater"},
    {0x33, "Bidirectional repeater"},
    {0x36, "Radio converter (system side)"},
    {0x37, "Radio converter (meter side)"},
};

constexpr CodeName kCi[] = {
    {0x50, "application reset"},
    {0x51, "data send"},
    {0x52, "selection of slaves"},
    {0x55, "data send (high byte first)"},
    {0x56, "selection of slaves (high byte first)"},
    {0x70, "application error"},
    {0x71, "alarm status"},
    {0x72, "variable data response"},
    {0x73, "fixed data response"},
    {0x76, "variable data response (high byte first)"},
    {0x77, "fixed data response (high byte first)"},
    {0x78, "variable data response without header"},
    {0x79, "response without header"},
    {0x7A, "variable data response with short header"},
    {0xB1, "request readout of complete RAM content"},
    {0xB2, "send user data (RAM write)"},
    {0xB3, "initialize test calibration mode"},
    {0xB4, "EEPROM read"},
    {0xB6, "start software test"},
    {0xB8, "set baud rate to 300"},
    {0xB9, "set baud rate to 600"},
    {0xBA, "set baud rate to 1200"},
    {0xBB, "set baud rate to 2400"},
    {0xBC, "set baud rate to 4800"},
    {0xBD, "set baud rate to 9600"},
    {0xBE, "set baud rate to 19200"},
    {0xBF, "set baud rate to 38400"},
};

constexpr CodeName kRecordErrors[] = {
    {0x00, "none"},
    {0x01, "too many DIFEs"},
    {0x02, "storage number not implemented"},
    {0x03, "unit number not implemented"},
    {0x04, "tariff number not implemented"},
    {0x05, "function not implemented"},
    {0x06, "data class not implemented"},
    {0x07, "data size not implemented"},
    {0x0B, "too many VIFEs"},
    {0x0C, "illegal VIF group"},
    {0x0D, "illegal VIF exponent"},
    {0x0E, "VIF/DIF mismatch"},
    {0x0F, "unimplemented action"},
    {0x15, "no data available (undefined value)"},
    {0x16, "data overflow"},
    {0x17, "data underflow"},
    {0x18, "data error"},
    {0x1C, "premature end of record"},
};

constexpr CodeName kApplicationErrors[] = {
    {0x00, "unspecified error"},
    {0x01, "unimplemented CI field"},
    {0x02, "buffer too long, truncated"},
    {0x03, "too many records"},
    {0x04, "premature end of record"},
    {0x05, "more than 10 DIFEs"},
    {0x06, "more than 10 VIFEs"},
    {0x08, "application too busy for handling readout request"},
    {0x09, "too many readouts"},
};

constexpr CodeName kFixedMedia[] = {
    {0x0, "Other"},
    {0x1, "Oil"},
    {0x2, "Electricity"},
    {0x3, "Gas"},
    {0x4, "Heat"},
    {0x5, "Steam"},
    {0x6, "Hot water"},
    {0x7, "Water"},
    {0x8, "Heat cost allocator"},
    {0x9, "Compressed air"},
    {0xA, "Cooling load meter (outlet)"},
    {0xB, "Cooling load meter (inlet)"},
    {0xC, "Heat (inlet)"},
    {0xD, "Heat / cooling load meter"},
    {0xE, "Bus / system component"},
    {0xF, "Unknown medium"},
};

constexpr FixedUnitEntry kFixedUnits[] = {
    {0x00, "Time", "h,m,s", 0},
    {0x01, "Date", "D,M,Y", 0},
    {0x02, "Energy", "Wh", 0},
    {0x03, "Energy", "Wh", 1},
    {0x04, "Energy", "Wh", 2},
    {0x05, "Energy", "Wh", 3},
    {0x06, "Energy", "Wh", 4},
    {0x07, "Energy", "Wh", 5},
    {0x08, "Energy", "Wh", 6},
    {0x09, "Energy", "Wh", 7},
    {0x0A, "Energy", "Wh", 8},
    {0x0B, "Energy", "J", 3},
    {0x0C, "Energy", "J", 4},
    {0x0D, "Energy", "J", 5},
    {0x0E, "Energy", "J", 6},
    {0x0F, "Energy", "J", 7},
    {0x10, "Energy", "J", 8},
    {0x11, "Energy", "J", 9},
    {0x12, "Energy", "J", 10},
    {0x13, "Energy", "J", 11},
    {0x14, "Power", "W", 0},
    {0x15, "Power", "W", 1},
    {0x16, "Power", "W", 2},
    {0x17, "Power", "W", 3},
    {0x18, "Power", "W", 4},
    {0x19, "Power", "W", 5},
    {0x1A, "Power", "W", 6},
    {0x1B, "Power", "W", 7},
    {0x1C, "Power", "W", 8},
    {0x1D, "Power", "J/h", 3},
    {0x1E, "Power", "J/h", 4},
    {0x1F, "Power", "J/h", 5},
    {0x20, "Power", "J/h", 6},
    {0x21, "Power", "J/h", 7},
    {0x22, "Power", "J/h", 8},
    {0x23, "Power", "J/h", 9},
    {0x24, "Power", "J/h", 10},
    {0x25, "Power", "J/h", 11},
    {0x26, "Volume", "m³", -6},
    {0x27, "Volume", "m³", -5},
    {0x28, "Volume", "m³", -4},
    {0x29, "Volume", "m³", -3},
    {0x2A, "Volume", "m³", -2},
    {0x2B, "Volume", "m³", -1},
    {0x2C, "Volume", "m³", 0},
    {0x2D, "Volume", "m³", 1},
    {0x2E, "Volume", "m³", 2},
    {0x2F, "Volume flow", "m³/h", -6},
    {0x30, "Volume flow", "m³/h", -5},
    {0x31, "Volume flow", "m³/h", -4},
    {0x32, "Volume flow", "m³/h", -3},
    {0x33, "Volume flow", "m³/h", -2},
    {0x34, "Volume flow", "m³/h", -1},
    {0x35, "Volume flow", "m³/h", 0},
    {0x36, "Volume flow", "m³/h", 1},
    {0x37, "Volume flow", "m³/h", 2},
    {0x38, "Temperature", "°C", -3},
    {0x39, "Units for HCA", "HCA", 0},
    {0x3E, "Same as counter 1, historic", "", 0},
    {0x3F, "Without unit", "", 0},
};

template <std::size_t N>
const char* nameOf(const CodeName (&table)[N], int code) {
    for (const CodeName& c : table)
        if (c.code == code)
            return c.name;
    return nullptr;
}

QString hexByte(int code) {
    return QStringLiteral("0x") +
           QString::number(code & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

}  // namespace

std::span<const VifEntry> primaryVifTable() {
    return kPrimary;
}
std::span<const VifEntry> extensionFdTable() {
    return kFd;
}
std::span<const VifEntry> extensionFbTable() {
    return kFb;
}
std::span<const VifeEntry> combinableVifeTable() {
    return kVife;
}

const VifEntry* findVif(std::span<const VifEntry> table, uint8_t code) {
    code &= 0x7F;
    for (const VifEntry& e : table)
        if (code >= e.first && code <= e.last)
            return &e;
    return nullptr;
}

const VifeEntry* findVife(uint8_t code) {
    code &= 0x7F;
    for (const VifeEntry& e : kVife)
        if (code >= e.first && code <= e.last)
            return &e;
    return nullptr;
}

const DataFieldEntry& dataField(uint8_t dif) {
    return kDataFields[dif & 0x0F];
}

QString mediumName(int medium) {
    if (const char* n = nameOf(kMedia, medium))
        return QString::fromUtf8(n);
    if (medium == 0xFF)
        return QStringLiteral("Any medium (wildcard)");
    return QStringLiteral("Reserved medium %1").arg(hexByte(medium));
}

QString ciName(int ci) {
    if (const char* n = nameOf(kCi, ci))
        return QString::fromUtf8(n);
    return QStringLiteral("CI %1").arg(hexByte(ci));
}

QString recordErrorName(int code) {
    if (const char* n = nameOf(kRecordErrors, code))
        return QString::fromUtf8(n);
    return QStringLiteral("reserved record error %1").arg(hexByte(code));
}

QString applicationErrorName(int code) {
    if (const char* n = nameOf(kApplicationErrors, code))
        return QString::fromUtf8(n);
    return QStringLiteral("reserved application error %1").arg(hexByte(code));
}

QString fixedMediumName(int medium) {
    if (const char* n = nameOf(kFixedMedia, medium & 0x0F))
        return QString::fromUtf8(n);
    return QString();
}

const FixedUnitEntry* fixedUnit(int code) {
    for (const FixedUnitEntry& u : kFixedUnits)
        if (u.code == code)
            return &u;
    return nullptr;
}

QStringList statusTexts(int status) {
    QStringList out;
    switch (status & 0x03) {
        case 1:
            out << QStringLiteral("application busy");
            break;
        case 2:
            out << QStringLiteral("any application error");
            break;
        case 3:
            out << QStringLiteral("abnormal condition");
            break;
        default:
            break;
    }
    if (status & 0x04)
        out << QStringLiteral("power low");
    if (status & 0x08)
        out << QStringLiteral("permanent error");
    if (status & 0x10)
        out << QStringLiteral("temporary error");
    for (int bit = 5; bit < 8; ++bit)
        if (status & (1 << bit))
            out << QStringLiteral("manufacturer bit %1").arg(bit);
    return out;
}

QString manufacturerText(uint16_t code) {
    QString out;
    for (int shift : {10, 5, 0}) {
        const int letter = (code >> shift) & 0x1F;
        out += (letter >= 1 && letter <= 26) ? QChar(u'A' + letter - 1) : QChar(u'?');
    }
    return out;
}

int manufacturerCode(QStringView letters) {
    if (letters.size() != 3)
        return -1;
    int code = 0;
    for (QChar ch : letters) {
        const char16_t u = ch.toUpper().unicode();
        if (u < u'A' || u > u'Z')
            return -1;
        code = (code << 5) | (u - u'A' + 1);
    }
    return code;
}

}  // namespace trelmo::mbus::inline records
