// Real replies of meters of many makes (heat, water, gas, electricity, sensors), each with
// values published beside it. The telegrams and their published values are the test frames
// of the libmbus project (files test/test-frames/<name>.hex and <name>.norm.xml); only the
// data is used. Where this decoder reads a record differently from the published file, the
// case says why.
#include <gtest/gtest.h>

#include <set>

#include "core/mbus/MbusRecords.h"
#include "tests/mbusrecords/MbusTestUtil.h"

using namespace trelmo::mbus;
using trelmo::mbus::test::describe;

namespace {

struct Check {
    int index;
    const char* quantity;  // nullptr: not checked
    const char* value;
    const char* unit;
    quint64 storage = 0;
    quint32 tariff = 0;
    quint32 subunit = 0;
    Function function = Function::Instantaneous;
};

struct Meter {
    const char* source;  // libmbus test/test-frames/<source>.hex
    const char* hex;
    const char* id;
    const char* manufacturer;
    int version;
    int medium;
    int access;
    int status;
    std::size_t records;
    bool more;
    std::vector<Check> checks;
};

using F = Function;

const std::vector<Meter>& meters() {
    static const std::vector<Meter> all = {
        {"kamstrup_multical_601",
         "68 F7 F7 68 08 11 72 17 58 85 06 2D 2C 08 04 04 00 00 00 0C 78 17 58 85 06 04 06 E7 "
         "91 00 00 04 14 2C DB 00 00 04 22 D9 03 00 00 04 59 B9 27 00 00 04 5D 08 12 00 00 04 "
         "61 B1 15 00 00 04 2D 5B 01 00 00 14 2D C0 01 00 00 04 3B 1F 02 00 00 14 3B 74 02 00 "
         "00 84 10 06 00 00 00 00 84 20 06 00 00 00 00 84 40 14 00 00 00 00 84 80 40 14 00 00 "
         "00 00 84 C0 40 06 00 00 00 00 04 6D 1A 2F 65 11 44 06 51 82 00 00 44 14 B2 C3 00 00 "
         "54 2D 26 02 00 00 54 3B 03 04 00 00 C4 10 06 00 00 00 00 C4 20 06 00 00 00 00 C4 40 "
         "14 00 00 00 00 C4 80 40 14 00 00 00 00 C4 C0 40 06 00 00 00 00 42 6C 5F 1C 0F 00 00 "
         "00 00 E7 E4 00 00 63 66 00 00 00 00 00 00 00 00 00 00 00 00 00 00 5B C9 A5 02 34 53 "
         "00 00 E0 B2 03 00 89 9C 68 00 00 00 00 00 01 00 01 07 07 09 01 03 00 00 00 00 00 98 "
         "16",
         "06855817",
         "KAM",
         8,
         4,
         4,
         0,
         28,
         false,
         {{0, "Fabrication number", "6855817", ""},
          {1, "Energy", "37351000", "Wh"},
          {2, "Volume", "561.08", "m³"},
          {3, "On time", "3546000", "s"},
          {4, "Flow temperature", "101.69", "°C"},
          {5, "Return temperature", "46.16", "°C"},
          {6, "Temperature difference", "55.53", "K"},
          {7, "Power", "34700", "W"},
          {8, "Power", "44800", "W", 0, 0, 0, F::Maximum},
          {9, "Volume flow", "0.543", "m³/h"},
          {10, "Volume flow", "0.628", "m³/h", 0, 0, 0, F::Maximum},
          {11, "Energy", "0", "Wh", 0, 1, 0},
          {12, "Energy", "0", "Wh", 0, 2, 0},
          {13, "Volume", "0", "m³", 0, 0, 1},
          {14, "Volume", "0", "m³", 0, 0, 2},
          {15, "Energy", "0", "Wh", 0, 0, 3},
          {16, "Date and time", "2011-01-05T15:26:00", ""},
          {17, "Energy", "33361000", "Wh", 1},
          {18, "Volume", "500.98", "m³", 1},
          {19, "Power", "55000", "W", 1, 0, 0, F::Maximum},
          {20, "Volume flow", "1.027", "m³/h", 1, 0, 0, F::Maximum},
          {25, "Energy", "0", "Wh", 1, 0, 3},
          {26, "Date", "2010-12-31", "", 1}}},
        {"landis+gyr_ultraheat_t230",
         "68 E2 E2 68 08 00 72 05 02 66 66 A7 32 07 04 01 10 00 00 09 74 04 09 70 08 0C 06 00 "
         "00 00 00 0C 14 00 00 00 00 0B 2D 00 00 00 0B 3B 00 00 00 0B 5A 95 01 00 0B 5E 97 01 "
         "00 0B 62 02 00 F0 0C 78 05 02 66 66 89 10 71 07 3C 22 69 37 00 00 0C 22 69 37 00 00 "
         "0C 26 00 00 00 00 8C 90 10 06 00 00 00 00 9B 10 2D 00 00 00 9B 10 3B 00 00 00 9B 10 "
         "5A 07 03 00 9B 10 5E 07 05 00 94 10 AD 6F 00 00 00 00 94 10 BB 6F 00 00 00 00 94 10 "
         "DA 6F 32 14 7A 18 94 10 DE 6F 2B 0B 69 18 4C 06 00 00 00 00 4C 14 00 00 00 00 7C 22 "
         "69 34 00 00 4C 26 00 00 00 00 CC 90 10 06 00 00 00 00 DB 10 2D 00 00 00 DB 10 3B 00 "
         "00 00 DB 10 5A 07 03 00 DB 10 5E 07 05 00 84 8F 0F 6D 00 00 E1 F1 04 6D 04 0C 8D 11 "
         "0F 09 07 00 66 01 7D 16",
         "66660205",
         "LUG",
         7,
         4,
         1,
         0x10,
         35,
         false,
         {{0, "Actuality duration", "4", "s"},
          {1, "Averaging duration", "8", "s"},
          {6, "Flow temperature", "19.5", "°C"},
          {7, "Return temperature", "19.7", "°C"},
          {8, "Temperature difference", "-0.2", "K"},  // BCD with the sign nibble F
          {9, "Fabrication number", "66660205", ""},
          {10, "Averaging duration", "420", "s", 0, 1, 0},
          {11, "On time", "13568400", "s", 0, 0, 0, F::Error},
          {12, "On time", "13568400", "s"},
          {14, "Energy", "0", "Wh", 0, 5, 0},
          {17, "Flow temperature", "30.7", "°C", 0, 1, 0, F::Maximum},
          {18, "Return temperature", "50.7", "°C", 0, 1, 0, F::Maximum},
          // VIFE 0x6F (date of end of last) makes these records the dates of the maxima;
          // the published file shows the raw 32-bit number scaled as a temperature
          // (41065374.6 and 40953732.3 °C).
          {21, "Flow temperature, date (and time) of end of last", "2011-08-26T20:50:00", "", 0, 1,
           0, F::Maximum},
          {22, "Return temperature, date (and time) of end of last", "2011-08-09T11:43:00", "", 0,
           1, 0, F::Maximum},
          {25, "On time", "12488400", "s", 1, 0, 0, F::Error},
          {27, "Energy", "0", "Wh", 1, 5, 0},
          {32, "Date and time", "2027-01-01T00:00:00", "", 510},  // year 127: marked invalid
          {33, "Date and time", "2012-01-13T12:04:00", ""},
          {34, "Manufacturer specific data", "0907006601", "", 0, 0, 0, F::Manufacturer}}},
        {"abb_delta",
         "68 98 98 68 08 01 72 12 34 56 78 42 04 02 02 45 00 00 00 0E 84 00 00 00 00 00 00 00 "
         "8E 10 84 00 00 00 00 00 00 00 8E 20 84 00 00 00 00 00 00 00 8E B0 00 84 00 00 00 00 "
         "00 00 00 8E 80 10 84 00 00 00 00 00 00 00 8E 80 40 84 00 00 00 00 00 00 00 8E 90 40 "
         "84 00 00 00 00 00 00 00 8E A0 40 84 00 00 00 00 00 00 00 8E B0 40 84 00 00 00 00 00 "
         "00 00 8E 80 50 84 00 00 00 00 00 00 00 01 FF 93 00 00 0C FF 92 00 00 00 00 01 07 FD "
         "97 00 00 00 00 00 00 00 00 00 01 FF 98 00 00 1F 75 16",
         "78563412",
         "ABB",
         2,
         2,
         0x45,
         0,
         15,
         true,
         {{0, "Energy", "0", "Wh"},
          {1, "Energy", "0", "Wh", 0, 1, 0},
          {3, "Energy", "0", "Wh", 0, 3, 0},
          {4, "Energy", "0", "Wh", 0, 4, 0},
          {5, "Energy", "0", "Wh", 0, 0, 2},
          {6, "Energy", "0", "Wh", 0, 1, 2},
          {9, "Energy", "0", "Wh", 0, 4, 2},
          {10, "Manufacturer specific", "0", ""},
          {11, "Manufacturer specific", "1000000", ""},
          {12, "Error flags", "0", ""},
          {14, "Manufacturer specific data", "", "", 0, 0, 0, F::More}}},
        {"siemens_wfh21",
         "68 5E 5E 68 08 05 72 91 64 00 08 65 32 99 06 DA 00 00 00 0C 13 00 00 00 00 0B 22 86 "
         "40 04 04 6D 24 0A 61 1C 32 6C 00 00 0C 78 91 64 00 08 06 FD 0C 0A 00 01 00 FA 01 0D "
         "FD 0B 05 31 32 48 46 57 01 FD 0E 00 4C 13 00 00 00 00 42 6C 5F 1C 0F 37 FD 17 00 00 "
         "00 00 00 00 00 00 02 7A 25 00 02 78 25 00 82 16",
         "08006491",
         "LSE",
         153,
         6,
         218,
         0,
         11,
         false,
         {{0, "Volume", "0", "m³"},
          {1, "On time", "158709600", "s"},
          {2, "Date and time", "2011-12-01T10:36:00", ""},
          {3, "Date", "2000-00-00", "", 0, 0, 0, F::Error},
          {4, "Fabrication number", "8006491", ""},
          {5, "Model / version", "2173253517322", ""},
          {6, "Parameter set identification", "WFH21", ""},
          {7, "Firmware version", "0", ""},
          {8, "Volume", "0", "m³", 1},
          {9, "Date", "2010-12-31", "", 1}}},
        {"itron_cyble_m-bus_v1.4_gas",
         "68 56 56 68 08 04 72 87 03 02 10 77 04 14 03 9A 00 00 00 0C 78 87 03 02 10 0D 7C 08 "
         "44 49 20 2E 74 73 75 63 0A 20 20 20 20 20 20 20 20 20 20 04 6D 2B 0F 79 1A 02 7C 09 "
         "65 6D 69 74 20 2E 74 61 62 D2 0F 04 14 1A 00 00 00 04 94 7F 00 00 00 00 44 14 19 00 "
         "00 00 0F 00 02 1F 9F 16",
         "10020387",
         "ACW",
         20,
         3,
         154,
         0,
         8,
         false,
         {{0, "Fabrication number", "10020387", ""},
          {1, "Plain-text unit", "          ", "cust. ID"},
          {2, "Date and time", "2011-10-25T15:43:00", ""},
          {3, "Plain-text unit", "4050", "bat. time"},
          {4, "Volume", "0.26", "m³"},
          {5, "Volume", "0", "m³"},
          {6, "Volume", "0.25", "m³", 1},
          {7, "Manufacturer specific data", "00021F", "", 0, 0, 0, F::Manufacturer}}},
        {"eastron_sdm630",
         "68 90 90 68 08 0A 72 78 65 34 21 24 40 01 02 55 00 00 00 0B FD 47 56 34 12 0B FD 47 "
         "56 34 12 0B FD 47 56 34 12 0B FD 47 56 34 12 0B FD 47 56 34 12 0B FD 47 56 34 12 0B "
         "FD 59 56 34 12 0B FD 59 56 34 12 0B FD 59 56 34 12 0B FD 59 56 34 12 0B 2A 56 34 12 "
         "0B 2A 56 34 12 0B 2A 56 34 12 0B 2A 56 34 12 0B FD 3A 56 34 12 0B FD 3A 56 34 12 0B "
         "FD 3A 56 34 12 0B FD 3A 56 34 12 0A FD 3A 00 05 0A FD 3A 05 00 0A FD 3A 05 00 0A FD "
         "3A 05 00 0A FD 3A 50 00 4D 16",
         "21346578",
         "PAD",
         1,
         2,
         0x55,
         0,
         23,
         false,
         {{0, "Voltage", "1234.56", "V"},
          {5, "Voltage", "1234.56", "V"},
          {6, "Current", "123.456", "A"},
          {10, "Power", "12345.6", "W"},
          {14, "Dimensionless", "123456", ""},
          {18, "Dimensionless", "500", ""},
          {19, "Dimensionless", "5", ""},
          {22, "Dimensionless", "50", ""}}},
        {"sontex_supercal_531_telegram1",
         "68 51 51 68 08 01 72 24 06 42 08 EE 4D 0D 04 2C 30 00 00 04 0E 00 00 00 00 04 14 00 "
         "00 00 00 05 5B 00 00 00 00 05 5F 00 00 00 00 05 3E 00 00 00 00 05 2B 00 00 00 00 C4 "
         "00 0E 00 00 00 00 C4 00 14 00 00 00 00 C4 40 14 00 00 00 00 C4 80 40 14 00 00 00 00 "
         "1F 71 16",
         "08420624",
         "SON",
         13,
         4,
         44,
         0x30,
         11,
         true,
         {{0, "Energy", "0", "J"},
          {2, "Flow temperature", "0", "°C"},
          {4, "Volume flow", "0", "m³/h"},
          {5, "Power", "0", "W"},
          {6, "Energy", "0", "J", 1},
          {8, "Volume", "0", "m³", 1, 0, 1},
          {9, "Volume", "0", "m³", 1, 0, 2},
          {10, "Manufacturer specific data", "", "", 0, 0, 0, F::More}}},
        {"engelmann_sensostar2c",
         "68 A6 A6 68 08 03 72 10 00 38 10 C5 14 01 04 1E 00 00 00 04 78 EA 62 9E 00 04 6D 32 "
         "14 86 16 04 15 81 00 00 00 04 FB 00 08 00 00 00 84 20 FB 00 00 00 00 00 84 30 FB 00 "
         "00 00 00 00 04 3D 00 00 00 00 04 2D 00 00 00 00 02 5B 5F 00 02 5F 2B 00 04 61 8A 14 "
         "00 00 02 27 FA 01 01 FD 17 00 04 90 28 A0 86 01 00 42 6C 7F 1C 44 15 81 00 00 00 44 "
         "FB 00 08 00 00 00 C4 20 FB 00 00 00 00 00 C4 30 FB 00 00 00 00 00 82 01 6C 5F 1C 84 "
         "01 15 54 00 00 00 84 01 FB 00 05 00 00 00 84 21 FB 00 00 00 00 00 84 31 FB 00 00 00 "
         "00 00 B7 16",
         "10380010",
         "EFE",
         1,
         4,
         30,
         0,
         24,
         false,
         {{0, "Fabrication number", "10380010", ""},
          {1, "Date and time", "2012-06-06T20:50:00", ""},
          {2, "Volume", "12.9", "m³"},
          {3, "Energy", "800000", "Wh"},  // extension table FB: 0.1 MWh steps
          {4, "Energy", "0", "Wh", 0, 2, 0},
          {5, "Energy", "0", "Wh", 0, 3, 0},
          {8, "Flow temperature", "95", "°C"},
          {9, "Return temperature", "43", "°C"},
          {10, "Temperature difference", "52.58", "K"},
          {11, "Operating time", "43718400", "s"},
          {12, "Error flags", "0", ""},
          {13, "Volume", "0.1", "m³"},
          {14, "Date", "2011-12-31", "", 1},
          {15, "Volume", "12.9", "m³", 1},
          {16, "Energy", "800000", "Wh", 1},
          {19, "Date", "2010-12-31", "", 2},
          {20, "Volume", "8.4", "m³", 2},
          {21, "Energy", "500000", "Wh", 2},
          {23, "Energy", "0", "Wh", 2, 3, 0}}},
        {"els_falcon",
         "68 4A 4A 68 08 01 72 45 23 11 70 93 15 0A 07 02 00 00 00 0C 13 67 45 23 01 04 6D 3A "
         "0D E6 02 42 6C E1 01 4C 13 51 69 45 00 42 EC 7E 01 11 12 3B 39 17 42 6C 01 11 02 3B "
         "F9 17 0F 0E 42 20 01 01 01 00 05 08 5E 01 20 3D 12 08 3D 12 08 00 C0 16",
         "70112345",
         "ELS",
         10,
         7,
         2,
         0,
         9,
         false,
         {{0, "Volume", "1234.567", "m³"},
          {1, "Date and time", "2007-02-06T13:58:00", ""},
          {2, "Date", "2007-01-01", "", 1},
          {3, "Volume", "456.951", "m³", 1},
          {4, "Date", "2008-01-01", "", 1},
          {5, "Volume flow", "5.945", "m³/h", 0, 0, 0, F::Maximum},
          {6, "Date", "2008-01-01", "", 1},
          {7, "Volume flow", "6.137", "m³/h"}}},
        {"emh_diz",
         "68 21 21 68 08 01 72 02 37 62 00 A8 15 00 02 07 00 00 00 8C 10 04 09 04 00 "
         "00 C4 00 2A 00 00 00 00 01 FD 17 00 8C 16",
         "00623702",
         "EMH",
         0,
         2,
         7,
         0,
         3,
         false,
         {{0, "Energy", "4090", "Wh", 0, 1, 0},
          {1, "Power", "0", "W", 1},
          {2, "Error flags", "0", ""}}},
        {"allmess_cf50",
         "68 3D 3D 68 08 01 72 00 51 20 02 82 4D 02 04 00 88 00 00 04 07 00 00 00 00 0C 15 03 "
         "00 00 00 0B 2E 00 00 00 0B 3B 00 00 00 0A 5A 88 12 0A 5E 16 05 0B 61 23 77 00 02 6C "
         "8C 11 02 27 37 0D 0F 60 00 67 16",
         "02205100",
         "SLB",
         2,
         4,
         0,
         0x88,
         10,
         false,
         {{0, "Energy", "0", "Wh"},
          {1, "Volume", "0.3", "m³"},
          {4, "Flow temperature", "128.8", "°C"},
          {5, "Return temperature", "51.6", "°C"},
          {6, "Temperature difference", "77.23", "K"},
          {7, "Date", "2012-01-12", ""},
          {8, "Operating time", "292291200", "s"},
          {9, "Manufacturer specific data", "6000", "", 0, 0, 0, F::Manufacturer}}},
        {"svm_f22_telegram1",
         "68 5C 5C 68 08 01 72 89 60 00 01 CD 4E 09 0C 94 70 00 00 04 06 6E 6D 00 00 04 13 45 "
         "C6 09 00 84 40 13 45 C6 09 00 02 5B F3 00 02 5F F3 00 02 62 00 00 04 22 E2 18 00 00 "
         "04 26 DB 18 00 00 04 3B 00 00 00 00 04 2C 00 00 00 00 04 6D 0C 15 A8 22 84 40 6E 00 "
         "00 00 00 84 80 40 6E 00 00 00 00 1F A7 16",
         "01006089",
         "SVM",
         9,
         0x0C,
         148,
         0x70,
         14,
         true,
         {{0, "Energy", "28014000", "Wh"},
          {1, "Volume", "640.581", "m³"},
          {2, "Volume", "640.581", "m³", 0, 0, 1},
          {3, "Flow temperature", "243", "°C"},
          {6, "On time", "22932000", "s"},
          {7, "Operating time", "22906800", "s"},
          {10, "Date and time", "2021-02-08T21:12:00", ""},
          {11, "Units for HCA", "0", "HCA", 0, 0, 1},
          {12, "Units for HCA", "0", "HCA", 0, 0, 2}}},
        {"tch_telegramm1",
         "68 3F 3F 68 08 4E 72 82 99 51 21 68 50 26 04 85 00 00 00 0C 05 00 00 00 00 04 6D 32 "
         "0D 1D 09 4C 05 00 00 00 00 42 6C 1D 05 0B 3A 00 00 00 0A 5A 34 02 0A 5E 24 02 0C 2A "
         "00 00 00 00 0C 13 64 00 00 00 1F 09 16",
         "21519982",
         "TCH",
         38,
         4,
         133,
         0,
         10,
         true,
         {{0, "Energy", "0", "Wh"},
          {1, "Date and time", "2000-09-29T13:50:00", ""},
          {2, "Energy", "0", "Wh", 1},
          {3, "Date", "2000-05-29", "", 1},
          {5, "Flow temperature", "23.4", "°C"},
          {6, "Return temperature", "22.4", "°C"},
          {8, "Volume", "0.064", "m³"}}},
        {"GWF-MTKcoder",
         "68 1B 1B 68 08 01 72 07 20 18 00 E6 1E 35 07 4C 00 00 00 0C 78 07 20 18 00 0C 16 69 "
         "02 00 00 96 16",
         "00182007",
         "GWF",
         53,
         7,
         76,
         0,
         2,
         false,
         {{0, "Fabrication number", "182007", ""}, {1, "Volume", "269", "m³"}}},
        {"sen_pollucom_e",
         "68 42 42 68 08 00 72 45 00 94 63 AE 4C 08 04 F9 00 00 00 0C 06 19 90 01 00 0C 13 19 "
         "11 62 01 0C 3B 00 00 00 00 0C 2B 00 00 00 00 02 5A 67 01 02 5E E9 00 03 60 46 31 00 "
         "0C 78 45 00 94 63 0C FD 10 45 00 94 63 1F B6 16",
         "63940045",
         "SEN",
         8,
         4,
         249,
         0,
         10,
         true,
         {{0, "Energy", "19019000", "Wh"},
          {1, "Volume", "1621.119", "m³"},
          {4, "Flow temperature", "35.9", "°C"},
          {5, "Return temperature", "23.3", "°C"},
          {6, "Temperature difference", "12.614", "K"},
          {7, "Fabrication number", "63940045", ""},
          {8, "Customer location", "63940045", ""}}},
        {"SBC_Saia-Burgess-ALE3",
         "68 92 92 68 08 28 72 55 00 00 19 43 4C 16 02 BF 00 00 00 8C 10 04 93 02 00 00 8C 11 "
         "04 93 02 00 00 8C 20 04 06 00 00 00 8C 21 04 06 00 00 00 02 FD C9 FF 01 DF 00 02 FD "
         "DB FF 01 00 00 02 AC FF 01 00 00 82 40 AC FF 01 00 00 02 FD C9 FF 02 00 00 02 FD DB "
         "FF 02 00 00 02 AC FF 02 00 00 82 40 AC FF 02 00 00 02 FD C9 FF 03 00 00 02 FD DB FF "
         "03 00 00 02 AC FF 03 00 00 82 40 AC FF 03 00 00 02 FF 68 00 00 02 AC FF 00 00 00 82 "
         "40 AC FF 00 00 00 01 FF 14 00 0A 16",
         "19000055",
         "SBC",
         22,
         2,
         191,
         0,
         20,
         false,
         {{0, "Energy", "2930", "Wh", 0, 1, 0},
          {1, "Energy", "2930", "Wh", 2, 1, 0},
          {2, "Energy", "60", "Wh", 0, 2, 0},
          {3, "Energy", "60", "Wh", 2, 2, 0},
          {4, "Voltage", "223", "V"},
          {5, "Current", "0", "A"},
          {7, "Power", "0", "W", 0, 0, 1},
          {16, "Manufacturer specific", "0", ""},
          {19, "Manufacturer specific", "0", ""}}},
        {"elv_temp_humid",
         "68 53 53 68 08 05 72 34 08 00 54 96 15 32 00 F2 00 00 00 01 FD 1B 00 02 FC 03 48 52 "
         "25 74 D4 11 22 FC 03 48 52 25 74 C8 11 12 FC 03 48 52 25 74 B4 16 02 65 D0 08 22 65 "
         "70 08 12 65 23 09 01 72 18 42 65 E4 08 82 01 65 DD 08 0C 78 34 08 00 54 03 FD 0F 00 "
         "00 04 1F 5D 16",
         "54000834",
         "ELV",
         50,
         0,
         242,
         0,
         13,
         true,
         {{0, "Digital input", "0", ""},
          {1, "Plain-text unit", "45.64", "%RH"},
          {2, "Plain-text unit", "45.52", "%RH", 0, 0, 0, F::Minimum},
          {3, "Plain-text unit", "58.12", "%RH", 0, 0, 0, F::Maximum},
          {4, "External temperature", "22.56", "°C"},
          {5, "External temperature", "21.6", "°C", 0, 0, 0, F::Minimum},
          {6, "External temperature", "23.39", "°C", 0, 0, 0, F::Maximum},
          {7, "Averaging duration", "86400", "s"},
          {8, "External temperature", "22.76", "°C", 1},
          {9, "External temperature", "22.69", "°C", 2},
          {10, "Fabrication number", "54000834", ""},
          {11, "Software version", "262144", ""}}},
        {"gmc_emmod206",
         "68 91 91 68 08 03 72 78 56 34 12 A3 1D E6 02 02 00 00 00 82 40 FD 48 60 03 82 80 40 "
         "FD 48 BF 03 82 C0 40 FD 48 20 04 82 40 FD 59 BD 03 82 80 40 FD 59 1F 04 82 C0 40 FD "
         "59 7E 04 82 40 2B E0 00 82 40 2B 36 FF 84 10 04 94 28 00 00 84 20 04 98 3A 00 00 84 "
         "50 04 BF 4E 00 00 84 60 04 A8 61 00 00 84 90 40 04 8B 75 00 00 84 A0 40 04 B8 88 00 "
         "00 84 D0 40 04 2D 9D 00 00 84 E0 40 04 C8 AF 00 00 82 41 2B E0 00 82 42 2B 00 00 82 "
         "43 2B 00 00 82 44 2B CA 00 42 16",
         "12345678",
         "GMC",
         230,
         2,
         2,
         0,
         20,
         false,
         {{0, "Voltage", "86.4", "V", 0, 0, 1},
          {1, "Voltage", "95.9", "V", 0, 0, 2},
          {2, "Voltage", "105.6", "V", 0, 0, 3},
          {3, "Current", "0.957", "A", 0, 0, 1},
          {5, "Current", "1.15", "A", 0, 0, 3},
          {6, "Power", "224", "W", 0, 0, 1},
          {7, "Power", "-202", "W", 0, 0, 1},
          {8, "Energy", "103880", "Wh", 0, 1, 0},
          {9, "Energy", "150000", "Wh", 0, 2, 0},
          {10, "Energy", "201590", "Wh", 0, 1, 1},
          {15, "Energy", "450000", "Wh", 0, 2, 3},
          {16, "Power", "224", "W", 2, 0, 1},
          {19, "Power", "202", "W", 8, 0, 1}}},
        {"rel_padpuls2",
         "68 2F 2F 68 08 04 72 04 00 00 00 AC 48 12 00 01 00 00 00 0C 00 00 00 00 00 04 6D 10 "
         "0D 34 09 42 6C 1F 0C 4C 00 00 00 00 00 42 EC 7E 3F 0C 0F 43 01 01 00 D0 16",
         "00000004",
         "REL",
         18,
         0,
         1,
         0,
         6,
         false,
         {{0, "Energy", "0", "Wh"},
          {1, "Date and time", "2001-09-20T13:16:00", ""},
          {2, "Date", "2000-12-31", "", 1},
          {3, "Energy", "0", "Wh", 1},
          {4, "Date", "2001-12-31", "", 1},
          {5, "Manufacturer specific data", "43010100", "", 0, 0, 0, F::Manufacturer}}},
    };
    return all;
}

}  // namespace

TEST(MbusPublicTelegrams, EveryMakeDecodesToItsPublishedValues) {
    std::set<QString> makes;
    for (const Meter& m : meters()) {
        SCOPED_TRACE(m.source);
        const Telegram t = test::decodeHex(m.hex);
        EXPECT_TRUE(t.ok()) << describe(t);
        EXPECT_TRUE(t.frame.checksumOk);
        EXPECT_EQ(t.frame.type, FrameType::Long);
        EXPECT_EQ(t.header.kind, HeaderKind::Long);
        EXPECT_EQ(t.header.id, QString::fromLatin1(m.id));
        EXPECT_EQ(t.header.manufacturer, QString::fromLatin1(m.manufacturer));
        EXPECT_EQ(t.header.version, m.version);
        EXPECT_EQ(t.header.medium, m.medium);
        EXPECT_EQ(t.header.access, m.access);
        EXPECT_EQ(t.header.status, m.status);
        EXPECT_EQ(t.moreRecordsFollow, m.more);
        ASSERT_EQ(t.records.size(), m.records) << describe(t);
        for (const Check& c : m.checks) {
            SCOPED_TRACE(c.index);
            const Record& r = t.records[static_cast<std::size_t>(c.index)];
            if (c.quantity) {
                EXPECT_EQ(r.quantity, QString::fromUtf8(c.quantity));
            }
            EXPECT_EQ(r.value, QString::fromUtf8(c.value));
            EXPECT_EQ(r.unit, QString::fromUtf8(c.unit));
            EXPECT_EQ(r.storage, c.storage);
            EXPECT_EQ(r.tariff, c.tariff);
            EXPECT_EQ(r.subunit, c.subunit);
            EXPECT_EQ(r.function, c.function);
        }
        // Records tile the user data: each starts where the one before ended (or after
        // fillers), none runs past the check sum.
        for (std::size_t i = 1; i < t.records.size(); ++i)
            EXPECT_GE(t.records[i].offset, t.records[i - 1].offset + t.records[i - 1].length);
        EXPECT_LE(t.records.back().offset + t.records.back().length, t.bytes.size() - 2);
        makes.insert(t.header.manufacturer);
    }
    EXPECT_GE(makes.size(), 12u);
}

TEST(MbusPublicTelegrams, RemarksOnSpecialRecords) {
    // Landis+Gyr: a storage number spread over two DIFEs, a date whose year is 127 (every
    // year): decoded, and marked invalid.
    const Telegram lug = test::decodeHex(meters()[1].hex);
    EXPECT_TRUE(lug.records[32].invalid);
    EXPECT_EQ(lug.header.statusTexts, QStringList({QStringLiteral("temporary error")}));
    // Siemens: a zero date in the error state record is no date.
    const Telegram lse = test::decodeHex(meters()[3].hex);
    EXPECT_TRUE(lse.records[3].invalid);
    EXPECT_EQ(lse.records[6].type, QStringLiteral("text"));
    // Itron: a manufacturer-specific VIFE after a volume keeps the volume.
    const Telegram acw = test::decodeHex(meters()[4].hex);
    EXPECT_EQ(acw.records[5].vifeTexts, QStringList({QStringLiteral("manufacturer specific")}));
    EXPECT_EQ(acw.records[1].type, QStringLiteral("text"));
    // Elvaco: the unit text placed before the VIFE is read, and said so.
    const Telegram elv = test::decodeHex(meters()[16].hex);
    EXPECT_TRUE(elv.records[1].note.contains(QStringLiteral("before the VIFEs")));
    // Engelmann: "increment per input pulse" named on the volume.
    const Telegram efe = test::decodeHex(meters()[7].hex);
    EXPECT_EQ(efe.records[13].vifeTexts,
              QStringList({QStringLiteral("increment per input pulse on input channel 0")}));
}
