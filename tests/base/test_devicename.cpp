#include <gtest/gtest.h>

#include "base/devicename.h"

TEST(WindowsDeviceName, DeviceNamesWithAnyExtensionCaseAndFolder) {
    const std::pair<const char*, const char*> cases[] = {
        // the device names themselves, in any case, with or without extensions
        {"com1.db", "COM1"},
        {"COM9", "COM9"},
        {"lpt3.tar.gz", "LPT3"},
        {"Con.csv", "CON"},
        {"prn.pdf", "PRN"},
        {"aux", "AUX"},
        {"NUL.png", "NUL"},
        {"conout$.txt", "CONOUT$"},
        {"COM\u00b9.db", "COM\u00b9"},
        // blanks before the extension, a trailing colon or dot, folders and drives before it
        {"com1 .db", "COM1"},
        {"com1:", "COM1"},
        {"nul.", "NUL"},
        {"C:\\Users\\op\\com1.db", "COM1"},
        {"/tmp/x/COM2.db", "COM2"},
        {"C:nul.csv", "NUL"},
        {"D:/data\\lpt1.csv", "LPT1"},
        // the device folder names every device, not only the reserved ones
        {"\\\\.\\COM10", "COM10"},
        {"//./com1", "COM1"},
        // ordinary files
        {"com10.db", ""},
        {"com0.db", ""},
        {"comx.db", ""},
        {"console.csv", ""},
        {"Rdatabj-com1.db", ""},
        {"com1-2026-12-09.pdf", ""},
        {"xcom1.db", ""},
        {" com1.db", ""},
        {"C:\\com1\\data.db", ""},
        {"\\\\.\\C:\\data\\x.db", ""},
        {"", ""},
        {"C:", ""},
    };
    for (auto [path, device] : cases)
        EXPECT_EQ(base::windowsDeviceName(QString::fromUtf8(path)).toStdString(), device) << path;
}
