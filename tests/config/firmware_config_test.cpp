#include "config/firmware_config.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "config/program_state.h"
#include "support/scratch.h"

namespace {

const char* const DefaultsListing =
    "Company_name=Nelta Technology Corporation\n"
    "Company_short_name=Nelta\n"
    "Model_name=Nelta 56K USB Modem\n"
    "Firmware_fix_atbkor_file=Tarvo32.ini\n"
    "Firmware_file=Tarvo32.ini\n"
    "Firmware_version=1.00\n"
    "ATI1_key_string=Nelta 56K USB\n"
    "ATI9_key_string=KOR\n"
    "Firmware_from_DUDE_protocol=1\n"
    "Firmware_to_CDC_protocol=1\n"
    "Windows_ChgDrv_and_Reboot=0\n"
    "Firmware_check_version=0\n"
    "Firmware_check_version_LE=0\n"
    "Firmware_check_version_VER=0.00\n"
    "Windows_Distinguish_win98=0\n"
    "Firmware_include_kernel=0\n"
    "For_internal_production=0\n"
    "SHIFT_COM_BASE=0\n"
    "FirmwarePath=/delivery/Tarvo32.ini\n"
    "FixFilePath=/delivery/Tarvo32.ini\n"
    "ComBase=1\n";

TEST(FirmwareConfig, WithoutAFileEveryKeyTakesItsDefault)
{
    scratch::TempDir dir;
    FirmwareConfigRecord c = readFirmwareConfig(dir.file("Tarvo32.ini"), "/delivery/");
    EXPECT_EQ(formatFirmwareConfig(c), DefaultsListing);
}

TEST(FirmwareConfig, ReadsTheValuesOfTheFile)
{
    scratch::TempDir dir;
    std::string ini = dir.write("Tarvo32.ini",
                                "[INFO]\r\n"
                                "Model_name=\r\n"
                                "Firmware_file=/abs/fw.bin\r\n"
                                "Firmware_version=" + std::string(140, '9') + "\r\n"
                                "Firmware_check_version=true\r\n"
                                "Firmware_to_CDC_protocol=yes\r\n"
                                "For_internal_production=NOTTRUE\r\n"
                                "SHIFT_COM_BASE=True\r\n");
    FirmwareConfigRecord c = readFirmwareConfig(ini, dir.dir());
    EXPECT_EQ(c.Model_name, "");  // present but empty is not the default
    EXPECT_EQ(c.Firmware_version, std::string(127, '9'));
    EXPECT_EQ(c.FirmwarePath, dir.dir() + "/abs/fw.bin");  // an absolute name is still appended
    EXPECT_EQ(c.FixFilePath, dir.dir() + "Tarvo32.ini");
    EXPECT_TRUE(c.Firmware_check_version);
    EXPECT_FALSE(c.Firmware_to_CDC_protocol);
    EXPECT_TRUE(c.Firmware_from_DUDE_protocol);
    EXPECT_TRUE(c.For_internal_production);
    EXPECT_TRUE(c.SHIFT_COM_BASE);
    EXPECT_EQ(c.ComBase, 11);
}

TEST(FirmwareConfig, LoadsFromBesideTheProgram)
{
    scratch::TempDir dir;
    dir.write("Tarvo32.ini", "[INFO]\r\nModel_name=Box\r\n[AT_COMMAND_BEFORE_UPLOAD]\r\n1=at&f\r\n3=ATZ\r\n");
    const std::string saved = ProgramDirectory;
    ProgramDirectory = dir.dir();
    loadFirmwareConfig(ProgramDirectory);
    EXPECT_EQ(iniPath(), dir.file("Tarvo32.ini"));
    EXPECT_EQ(FirmwareConfig.Model_name, "Box");
    EXPECT_EQ(FirmwareConfig.FirmwarePath, dir.file("Tarvo32.ini"));
    // Raw values, key by key: the gap at 2 is what ends the engine's list.
    EXPECT_EQ(readPreUploadCommand(1), "at&f");
    EXPECT_EQ(readPreUploadCommand(2), "");
    EXPECT_EQ(readPreUploadCommand(3), "ATZ");
    ProgramDirectory = saved;
    FirmwareConfig = FirmwareConfigRecord{};
}

TEST(FirmwareConfig, TheSampleDeliveryNamesItsImages)
{
    const std::string delivery = std::string(TARVO_SOURCE_DIR) + "/samples/delivery/";
    FirmwareConfigRecord c = readFirmwareConfig(delivery + IniFileName, delivery);
    EXPECT_EQ(c.Model_name, "Nelta 56K USB Modem");
    EXPECT_EQ(c.Firmware_version, "1.20");
    EXPECT_EQ(std::filesystem::file_size(c.FirmwarePath), 20u * 1024u);
    EXPECT_TRUE(std::filesystem::is_regular_file(c.FixFilePath));
    EXPECT_EQ(readPreUploadCommandFrom(delivery + IniFileName, 1), "AT&F");
    EXPECT_EQ(readPreUploadCommandFrom(delivery + IniFileName, 2), "ATE1");
    EXPECT_EQ(readPreUploadCommandFrom(delivery + IniFileName, 3), "");
}

}  // namespace
