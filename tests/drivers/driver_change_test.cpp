#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include "drivers/driver_change.h"
#include "drivers/driver_fixture.h"

namespace driver_test {
namespace {

using ::testing::ElementsAre;

std::string cwd()
{
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

// The Windows 98 machine of OldDriverRegistry with the files its lists name.
class OldDriver9x : public DriverFixture {
protected:
    void SetUp() override
    {
        DriverFixture::SetUp();
        writeRegistry(OldDriverRegistry);
        writeWindowsFile("INF/mdmx.inf");
        writeWindowsFile("INF/Other/Vendormdmx.inf");
        writeWindowsFile("INF/Other/mdmx.inf");
        writeWindowsFile("INF/Other/mdmx.inf.txt");
        writeWindowsFile("INF/nlusb.PNF");
        writeWindowsFile("INF/mdm.PNF");  // stays: DEL_PNF_ names the one in the Windows folder
        writeWindowsFile("mdm.PNF");
        writeWindowsFile("SYSTEM/NLUSBMDM.SYS");
        writeWindowsFile("SYSTEM/nlccport.sys");
        writeWindowsFile("SYSTEM/nlusbprt.vxd");
        writeWindowsFile("SYSTEM/kernel32.dll");
    }
};

TEST_F(OldDriver9x, TheUninstallKeyLeadsToEveryKeyAndFileAndGoesLast)
{
    DriverChange change;
    watch(change);
    EXPECT_EQ(change.UninstallOldDriver(), 1);
    EXPECT_EQ(change.uninstallKey, 0u);
    const std::string hklm = "HKEY_LOCAL_MACHINE\\";
    const std::string instance = hklm + HardwareKey + "\\5&1A2B&0&";
    EXPECT_THAT(changes, ElementsAre(
        "deleted key " + hklm + ClassKeys + "Modem\\0003", "deleted key " + instance + "1",
        "deleted key " + hklm + ClassKeys + "Modem\\0004", "deleted key " + instance + "2",
        "deleted key " + hklm + ClassKeys + "Ports\\0001", "deleted key " + instance + "3",
        "deleted key " + hklm + HardwareKey,
        "deleted file " + windowsFile("INF/mdmx.inf"),
        "deleted file " + windowsFile("INF/Other/mdmx.inf"),
        "deleted file " + windowsFile("INF/Other/Vendormdmx.inf"),
        "missing " + windowsFile("INF/nlusbprt.inf"),  // listed, not there: said
        "deleted file " + windowsFile("mdm.PNF"),
        "deleted file " + windowsFile("INF/nlusb.PNF"),
        "deleted file " + windowsFile("SYSTEM/NLUSBMDM.SYS"),
        "missing " + windowsFile("SYSTEM/gone.sys"),
        "deleted file " + windowsFile("SYSTEM/nlccport.sys"),
        "deleted file " + windowsFile("SYSTEM/nlusbprt.vxd"),
        "deleted key " + hklm + UninstallKey9x));
    // What the old driver did not name stays.
    EXPECT_TRUE(keyExists("Enum\\USB\\VID_0000&PID_0001\\1"));
    EXPECT_TRUE(keyExists(std::string(ClassKeys) + "Modem\\0000"));
    EXPECT_TRUE(keyExists("Enum\\USB"));
    EXPECT_TRUE(exists(windowsFile("INF/mdm.PNF")));
    EXPECT_TRUE(exists(windowsFile("INF/Other/mdmx.inf.txt")));
    EXPECT_TRUE(exists(windowsFile("SYSTEM/kernel32.dll")));
}

TEST_F(OldDriver9x, ADryRunTellsTheSameChangesAndMakesNone)
{
    writeDeliveryFile("Win98/DelFile/Inf/mdmx.inf");  // named twice: deleted once
    writeDeliveryFile("Win98/CopyFile/Win98/Inf/mdmx.inf");
    writeDeliveryFile("Win98/CopyFile/Win98/System/nlusbmdm.sys");
    const std::string before = treeOf(dir.dir());
    std::vector<std::string> wouldDo = runAllSteps(true);
    EXPECT_EQ(treeOf(dir.dir()), before);
    std::vector<std::string> did = runAllSteps(false);
    EXPECT_EQ(wouldDo, did);
    EXPECT_EQ(did.size(), 20u);
    EXPECT_NE(treeOf(dir.dir()), before);
}

TEST_F(OldDriver9x, TheUninstallKeyGoesEvenWhenListedThingsAreMissing)
{
    std::filesystem::remove_all(windowsFile(""));
    DriverChange change;
    watch(change);
    EXPECT_EQ(change.UninstallOldDriver(), 1);
    EXPECT_FALSE(keyExists(UninstallKey9x));
    EXPECT_FALSE(keyExists(HardwareKey));
    EXPECT_EQ(changes.size(), 8u) << "seven keys of the hardware list and the uninstall key";
    EXPECT_EQ(change.DeleteOldDriverFiles(), 0);
    EXPECT_EQ(change.InstallNewDriverFiles(), 0);
}

TEST_F(DriverFixture, TheFamilyAndTheCdcFlagChooseTheUninstallKey)
{
    struct Case {
        const char* winver;
        bool cdc;
        int result;
        bool cdcKeyLeft;
        bool otherKeyLeft;
    } cases[] = {
        {"win98", true, 1, false, true},
        {"winme", false, 1, true, false},
        {"win2k", false, 1, true, true},  // the NT family leaves the registry alone
        {"winxp", true, 1, true, true},
    };
    for (const Case& c : cases) {
        writeRegistry(
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\REREDUZUVOR]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NL773056KUSB]\r\n\r\n");
        const std::string before = readBytes(registryFile());
        useWindows(c.winver);
        FirmwareConfig.Firmware_to_CDC_protocol = c.cdc;
        DriverChange change;
        EXPECT_EQ(change.UninstallOldDriver(), c.result) << c.winver;
        EXPECT_EQ(keyExists(std::string(UninstallKeyRoot) + "REREDUZUVOR"), c.cdcKeyLeft) << c.winver;
        EXPECT_EQ(keyExists(UninstallKey9x), c.otherKeyLeft) << c.winver;
        if (c.cdcKeyLeft && c.otherKeyLeft) {
            EXPECT_EQ(readBytes(registryFile()), before) << c.winver;
        }
    }
    // Without the uninstall key nothing is read or deleted.
    writeRegistry("[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01]\r\n\r\n");
    useWindows("win98se");
    DriverChange change;
    EXPECT_EQ(change.UninstallOldDriver(), 0);
    EXPECT_NE(change.lastStatus, platform::RegOk);
    EXPECT_TRUE(keyExists(HardwareKey));
}

TEST_F(DriverFixture, AListEndsAtItsFirstGapOrAtOneHundred)
{
    std::string uninstall = std::string("[HKEY_LOCAL_MACHINE\\") + UninstallKey9x + "]\r\n";
    uninstall += "\"DEL_INF_0000\"=\"first.inf\"\r\n\"DEL_INF_0002\"=\"third.inf\"\r\n";
    for (int i = 0; i < 120; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "\"DEL_SYS_%04d\"=\"sys%d.sys\"\r\n", i, i);
        uninstall += line;
        writeWindowsFile("SYSTEM/sys" + std::to_string(i) + ".sys");
    }
    // Data that does not fit the 300-byte buffer ends its list too.
    uninstall += "\"DEL_VXD_0000\"=\"" + std::string(300, 'x') + "\"\r\n\"DEL_VXD_0001\"=\"after.vxd\"\r\n";
    writeRegistry(uninstall + "\r\n");
    writeWindowsFile("INF/first.inf");
    writeWindowsFile("INF/third.inf");
    writeWindowsFile("SYSTEM/after.vxd");

    DriverChange change;
    EXPECT_EQ(change.UninstallOldDriver(), 1);
    EXPECT_FALSE(exists(windowsFile("INF/first.inf")));
    EXPECT_TRUE(exists(windowsFile("INF/third.inf")));
    EXPECT_FALSE(exists(windowsFile("SYSTEM/sys0.sys")));
    EXPECT_FALSE(exists(windowsFile("SYSTEM/sys99.sys")));
    EXPECT_TRUE(exists(windowsFile("SYSTEM/sys100.sys")));
    EXPECT_TRUE(exists(windowsFile("SYSTEM/sys119.sys")));
    EXPECT_TRUE(exists(windowsFile("SYSTEM/after.vxd")));
    EXPECT_EQ(change.valueName, "DEL_VXD_0000");
    EXPECT_FALSE(keyExists(UninstallKey9x));
}

TEST_F(DriverFixture, TheHardwareListEndsAtAKeyThatCannotBeOpened)
{
    writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + UninstallKey9x + "]\r\n" +
                  "\"DEL_HKR_0000\"=\"Enum\\\\USB\\\\Plain\"\r\n"
                  "\"DEL_HKR_0001\"=\"Enum\\\\USB\\\\Missing\"\r\n"
                  "\"DEL_HKR_0002\"=\"Enum\\\\USB\\\\Later\"\r\n"
                  "\"DEL_INF_0000\"=\"still.inf\"\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\USB\\Plain\\NoDriverValue]\r\n\"DeviceDesc\"=\"x\"\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\USB\\Later]\r\n\r\n");
    writeWindowsFile("INF/still.inf");
    DriverChange change;
    watch(change);
    EXPECT_EQ(change.UninstallOldDriver(), 1);
    EXPECT_THAT(changes, ElementsAre("deleted key HKEY_LOCAL_MACHINE\\Enum\\USB\\Plain\\NoDriverValue",
                                     "deleted key HKEY_LOCAL_MACHINE\\Enum\\USB\\Plain",
                                     "missing HKEY_LOCAL_MACHINE\\Enum\\USB\\Missing",
                                     "deleted file " + windowsFile("INF/still.inf"),
                                     std::string("deleted key HKEY_LOCAL_MACHINE\\") + UninstallKey9x));
    EXPECT_TRUE(keyExists("Enum\\USB\\Later"));
}

TEST_F(DriverFixture, AnEmptyKeyNameNeverStandsForTheKeyAboveIt)
{
    writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + UninstallKey9x + "]\r\n" +
                  "\"DEL_HKR_0000\"=\"\"\r\n"
                  "\"DEL_HKR_0001\"=\"\\\\\"\r\n"
                  "\"DEL_HKR_0002\"=\"Enum\\\\USB\\\\X\\\\\"\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\USB\\X\\1]\r\n\"Driver\"=\"\"\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\USB\\X\\2]\r\n\"Driver\"=\"\\\\\"\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\USB\\Other]\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000]\r\n\r\n");
    DriverChange change;
    EXPECT_EQ(change.UninstallOldDriver(), 1);
    EXPECT_FALSE(keyExists("Enum\\USB\\X"));
    EXPECT_TRUE(keyExists("Enum\\USB\\Other"));
    EXPECT_TRUE(keyExists(std::string(ClassKeys) + "Modem\\0000"));
    EXPECT_FALSE(keyExists(UninstallKey9x));
}

TEST(DriverNames, OnlyNamesThatStayInsideTheirFolderAreTaken)
{
    struct Case {
        const char* name;
        bool inside;
    } cases[] = {
        {"mdmx.inf", true},       {"INF\\mdm.PNF", true},    {"sub/file.sys", true},
        {".hidden", true},        {"a..b.inf", true},        {"", false},
        {"..\\win.ini", false},   {"INF\\..\\..\\x", false}, {"a/../../x", false},
        {"\\autoexec.bat", false}, {"/etc/passwd", false},   {"C:\\config.sys", false},
        {"c:boot.ini", false},    {"...\\x", false},         {". .\\x", false},
        {"*", false},             {"oem?.inf", false},       {"..", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nameStaysInside(c.name), c.inside) << c.name;
    }
}

TEST_F(DriverFixture, NamesLeadingOutsideTheirFolderAreSkippedAndTheListGoesOn)
{
    const std::string outside = dir.write("host/victim.txt", "keep");
    const std::string root = dir.write("victim.txt", "keep");
    writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + UninstallKey9x + "]\r\n" +
                  "\"DEL_INF_0000\"=\"..\\\\..\\\\victim.txt\"\r\n"
                  "\"DEL_INF_0001\"=\"" + root + "\"\r\n"
                  "\"DEL_INF_0002\"=\"C:\\\\victim.txt\"\r\n"
                  "\"DEL_INF_0003\"=\"*\"\r\n"
                  "\"DEL_INF_0004\"=\"good.inf\"\r\n"
                  "\"DEL_PNF_0000\"=\"INF\\\\..\\\\..\\\\victim.txt\"\r\n"
                  "\"DEL_PNF_0001\"=\"INF\\\\good.PNF\"\r\n\r\n");
    writeWindowsFile("INF/good.inf");
    writeWindowsFile("INF/good.PNF");
    writeWindowsFile("INF/Other/anything.inf");
    // A host file name may hold backslashes, which would become steps of a Windows path.
    writeDeliveryFile("Win98/DelFile/System/..\\..\\victim.txt");
    writeDeliveryFile("Win98/DelFile/System/nlusbmdm.sys");
    writeWindowsFile("SYSTEM/nlusbmdm.sys");
    writeDeliveryFile("Win98/CopyFile/Win98/System/..\\..\\victim.txt", "overwritten");
    writeDeliveryFile("Win98/CopyFile/victim.txt", "overwritten");  // where that name leads

    DriverChange change;
    EXPECT_EQ(change.UninstallOldDriver(), 1);
    EXPECT_EQ(change.DeleteOldDriverFiles(), 1);
    EXPECT_EQ(change.InstallNewDriverFiles(), 1);
    EXPECT_EQ(readBytes(outside), "keep");
    EXPECT_EQ(readBytes(root), "keep");
    EXPECT_TRUE(exists(windowsFile("INF/Other/anything.inf")));
    EXPECT_FALSE(exists(windowsFile("INF/good.inf")));
    EXPECT_FALSE(exists(windowsFile("INF/good.PNF")));
    EXPECT_FALSE(exists(windowsFile("SYSTEM/nlusbmdm.sys")));
}

TEST_F(DriverFixture, DelFileFoldersOn9xTakeTheSameNamesAndTheirOtherCopies)
{
    // Copied from a Windows medium: upper-case folder names.
    writeDeliveryFile("WIN98/DELFILE/INF/a.inf");
    writeDeliveryFile("WIN98/DELFILE/INF/old/inner.inf");
    writeDeliveryFile("WIN98/DELFILE/SYSTEM/usbmdm.sys");
    writeDeliveryFile("Win2k/DelFile/Inf/b.inf");
    writeWindowsFile("INF/A.INF");
    writeWindowsFile("INF/b.inf");
    writeWindowsFile("INF/old/inner.inf");
    writeWindowsFile("INF/Other/Vendora.inf");
    writeWindowsFile("INF/Other/Vendorold");
    writeWindowsFile("SYSTEM/usbmdm.sys");
    DriverChange change;
    watch(change);
    EXPECT_EQ(change.DeleteOldDriverFiles(), 1);
    EXPECT_THAT(changes, ElementsAre("deleted file " + windowsFile("INF/A.INF"),
                                     "deleted file " + windowsFile("INF/Other/Vendora.inf"),
                                     "deleted file " + windowsFile("SYSTEM/usbmdm.sys")));
    EXPECT_TRUE(exists(windowsFile("INF/b.inf")));
    EXPECT_TRUE(exists(windowsFile("INF/old/inner.inf")));
    EXPECT_TRUE(exists(windowsFile("INF/Other/Vendorold")));
}

TEST_F(DriverFixture, TheNtFamilyUsesItsFoldersAndKeepsOtherVendorsOemFiles)
{
    useWindows("win2k");
    std::filesystem::create_directories(windowsFile("System32/Drivers"));
    writeDeliveryFile("Win2k/DelFile/Inf/nlusbmdm.inf");
    writeDeliveryFile("Win2k/DelFile/Sys32drv/nlusbmdm.sys");
    writeDeliveryFile("Win98/DelFile/Inf/ours98.inf");
    writeWindowsFile("INF/nlusbmdm.inf");
    writeWindowsFile("INF/ours98.inf");
    writeWindowsFile("INF/Other/Xours98.inf");
    writeWindowsFile("System32/Drivers/NLUSBMDM.SYS");
    writeWindowsFile("INF/oem3.inf", "[Models]\r\n%Modem%=Modem, usb\\vid_4e2c&pid_7a01\r\n");
    writeWindowsFile("INF/oem3.PNF");
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("USB\\VID_4E2B&PID_7A02")) {
        utf16 += c;
        utf16 += '\0';
    }
    writeWindowsFile("INF/OEM5.INF", utf16);
    writeWindowsFile("INF/OEM5.PNF");
    writeWindowsFile("INF/oem7.inf", "[Models]\r\n%Other%=Other, USB\\VID_0E2C&PID_7A01\r\n");
    writeWindowsFile("INF/oem7.PNF");
    writeWindowsFile("INF/oem9.inf", std::string(OemInfScanBytes, ';') + "USB\\VID_4E2C&PID_7A01\r\n");
    writeWindowsFile("INF/oem9.PNF");
    const std::string folderBefore = cwd();

    DriverChange change;
    watch(change);
    EXPECT_EQ(change.DeleteOldDriverFiles(), 1);
    EXPECT_EQ(cwd(), folderBefore);
    EXPECT_THAT(changes, ElementsAre("deleted file " + windowsFile("INF/nlusbmdm.inf"),
                                     "deleted file " + windowsFile("INF/oem3.inf"),
                                     "deleted file " + windowsFile("INF/oem3.PNF"),
                                     "deleted file " + windowsFile("INF/OEM5.INF"),
                                     "deleted file " + windowsFile("INF/OEM5.PNF"),
                                     "deleted file " + windowsFile("System32/Drivers/NLUSBMDM.SYS")));
    EXPECT_TRUE(exists(windowsFile("INF/oem7.inf")) && exists(windowsFile("INF/oem7.PNF")));
    EXPECT_TRUE(exists(windowsFile("INF/oem9.inf")) && exists(windowsFile("INF/oem9.PNF")));
    EXPECT_TRUE(exists(windowsFile("INF/ours98.inf")) && exists(windowsFile("INF/Other/Xours98.inf")));
}

TEST_F(DriverFixture, TheCurrentFolderComesBackWhateverTheScanFinds)
{
    const std::string before = cwd();
    DriverChange change;
    std::filesystem::remove_all(windowsFile("INF/Other"));
    EXPECT_EQ(change.DeleteOtherInfCopies(windowsFile("INF"), "a.inf"), 0);
    EXPECT_EQ(cwd(), before);
    std::filesystem::create_directories(windowsFile("INF/Other"));
    EXPECT_EQ(change.DeleteOtherInfCopies(windowsFile("INF"), "a.inf"), 1);
    EXPECT_EQ(cwd(), before);
    useWindows("winxp");
    EXPECT_EQ(change.DeleteOemInfFiles(windowsFile("NOINF")), 0);
    EXPECT_EQ(change.DeleteOemInfFiles(windowsFile("INF")), 1);
    EXPECT_EQ(cwd(), before);
}

TEST_F(DriverFixture, NewFilesComeFromTheFoldersOfTheFamilyAndEdition)
{
    struct Case {
        const char* winver;
        bool distinguish;
        const char* from;  // the CopyFile folder whose files arrive
        const char* systemTarget;
    } cases[] = {
        {"win98se", false, "Win98", "SYSTEM"},
        {"win98se", true, "Win98se", "SYSTEM"},
        {"winme", true, "Win98me", "SYSTEM"},
        {"winme", false, "Win98", "SYSTEM"},
        {"win95", true, "Win98", "SYSTEM"},
        {"win98", true, "Win98", "SYSTEM"},
        {"win2k", false, "Win2k", "System32/Drivers"},
        {"winxp", true, "Win2k", "System32/Drivers"},
    };
    for (const char* edition : {"Win98", "Win98se", "Win98me"}) {
        writeDeliveryFile(std::string("Win98/CopyFile/") + edition + "/Inf/usbmdm.inf", edition);
        writeDeliveryFile(std::string("Win98/CopyFile/") + edition + "/System/usbmdm.sys", edition);
    }
    writeDeliveryFile("Win2k/CopyFile/Inf/usbmdm.inf", "Win2k");
    writeDeliveryFile("Win2k/CopyFile/Sys32drv/usbmdm.sys", "Win2k");
    std::filesystem::create_directories(windowsFile("System32/Drivers"));
    for (const Case& c : cases) {
        useWindows(c.winver);
        FirmwareConfig.Windows_Distinguish_win98 = c.distinguish;
        writeWindowsFile("INF/usbmdm.inf", "old");
        writeWindowsFile("SYSTEM/usbmdm.sys", "old");
        writeWindowsFile("System32/Drivers/usbmdm.sys", "old");
        DriverChange change;
        EXPECT_EQ(change.InstallNewDriverFiles(), 1);
        const std::string label = std::string(c.winver) + (c.distinguish ? " distinguished" : "");
        EXPECT_EQ(readBytes(windowsFile("INF/usbmdm.inf")), c.from) << label;
        EXPECT_EQ(readBytes(windowsFile(std::string(c.systemTarget) + "/usbmdm.sys")), c.from) << label;
    }
}

TEST_F(DriverFixture, EachCopyStepGoesOnWithoutTheOther)
{
    // No INF delivery folder; a subfolder among the system files; the INF target folder missing.
    writeDeliveryFile("Win98/CopyFile/Win98/System/b.sys");
    writeDeliveryFile("Win98/CopyFile/Win98/System/a.vxd");
    writeDeliveryFile("Win98/CopyFile/Win98/System/sub/deep.sys");
    DriverChange change;
    watch(change);
    EXPECT_EQ(change.InstallNewDriverFiles(), 1);
    EXPECT_THAT(changes, ElementsAre(
        "copied " + deliveryFile("Win98/CopyFile/Win98/System/a.vxd") + " -> " + windowsFile("SYSTEM/a.vxd"),
        "copied " + deliveryFile("Win98/CopyFile/Win98/System/b.sys") + " -> " + windowsFile("SYSTEM/b.sys")));
    EXPECT_FALSE(exists(windowsFile("SYSTEM/sub")));

    changes.clear();
    writeDeliveryFile("Win98/CopyFile/Win98/Inf/usbmdm.inf");
    std::filesystem::remove_all(windowsFile("INF"));
    EXPECT_EQ(change.InstallNewDriverFiles(), 1);
    ASSERT_EQ(changes.size(), 3u) << "the INF file failed, the system files copied";
    EXPECT_EQ(changes[0], "failed " + deliveryFile("Win98/CopyFile/Win98/Inf/usbmdm.inf") + " -> " +
                              windowsFile("INF") + "/usbmdm.inf: the folder to copy it to is missing");
    EXPECT_FALSE(exists(windowsFile("INF")));
    EXPECT_EQ(change.CopyFolderFiles(deliveryFile("Win98\\CopyFile\\nothere"), windowsFile("SYSTEM")), 0);
}

TEST_F(DriverFixture, TheInfFilesAreCopiedBeforeTheSystemFiles)
{
    writeDeliveryFile("Win98/CopyFile/Win98/System/a.sys");
    writeDeliveryFile("Win98/CopyFile/Win98/Inf/z.inf");
    DriverChange change;
    watch(change);
    change.InstallNewDriverFiles();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_NE(changes[0].find("z.inf"), std::string::npos);
}

// Folder links inside the Windows folder (and a delivery file linked to a secret) lead nowhere
// outside: each such deletion or copy is refused and reported, the rest goes on.
TEST_F(DriverFixture, FolderLinksCannotLeadAChangeOutsideTheWindowsFolder)
{
    const std::string outside = dir.file("outside/");
    for (const char* name : {"linked.inf", "copy.inf", "same.inf", "nlusbmdm.sys", "new.sys"}) {
        dir.write(std::string("outside/") + name, "keep");
    }
    std::filesystem::remove_all(windowsFile("INF/Other"));
    ASSERT_EQ(symlink(outside.c_str(), windowsFile("INF/linkdir").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), windowsFile("INF/Other").c_str()), 0);
    std::filesystem::remove_all(windowsFile("SYSTEM"));
    ASSERT_EQ(symlink(outside.c_str(), windowsFile("SYSTEM").c_str()), 0);
    writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + UninstallKey9x + "]\r\n" +
                  "\"DEL_INF_0000\"=\"linkdir\\\\linked.inf\"\r\n"
                  "\"DEL_INF_0001\"=\"copy.inf\"\r\n"
                  "\"DEL_INF_0002\"=\"inside.inf\"\r\n\r\n");
    writeWindowsFile("INF/inside.inf");
    writeDeliveryFile("Win98/DelFile/System/nlusbmdm.sys");
    writeDeliveryFile("Win98/DelFile/Inf/same.inf");
    writeDeliveryFile("Win98/CopyFile/Win98/System/new.sys");
    writeDeliveryFile("Win98/CopyFile/Win98/Inf/fine.inf");
    const std::string secret = dir.write("secret.txt", "secret");
    ASSERT_EQ(symlink(secret.c_str(), deliveryFile("Win98/CopyFile/Win98/Inf/leak.inf").c_str()), 0);

    for (bool dryRun : {true, false}) {
        SCOPED_TRACE(dryRun ? "dry run" : "real run");
        runAllSteps(dryRun);
        const std::string refused = ": its real place is outside the Windows folder";
        EXPECT_THAT(changes, ElementsAre(
            "failed " + windowsFile("INF/linkdir/linked.inf") + refused,
            "missing " + windowsFile("INF/copy.inf"),
            // The Other copies are found from inside the linked folder: its real place is named.
            "failed " + outside + "copy.inf" + refused,
            "deleted file " + windowsFile("INF/inside.inf"),
            "deleted key HKEY_LOCAL_MACHINE\\" + std::string(UninstallKey9x),
            "failed " + outside + "same.inf" + refused,
            "failed " + windowsFile("SYSTEM/nlusbmdm.sys") + refused,
            "copied " + deliveryFile("Win98/CopyFile/Win98/Inf/fine.inf") + " -> " + windowsFile("INF/fine.inf"),
            "failed " + deliveryFile("Win98/CopyFile/Win98/Inf/leak.inf") + " -> " + windowsFile("INF/leak.inf") +
                ": its source's real place is outside the program's folder",
            "failed " + deliveryFile("Win98/CopyFile/Win98/System/new.sys") + " -> " + windowsFile("SYSTEM/new.sys") +
                refused));
    }
    for (const char* name : {"linked.inf", "copy.inf", "same.inf", "nlusbmdm.sys", "new.sys"}) {
        EXPECT_EQ(readBytes(outside + name), "keep") << name;
    }
    EXPECT_FALSE(exists(windowsFile("INF/leak.inf")));
}

TEST_F(DriverFixture, NamesWithControlCharactersAreSkipped)
{
    writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\") + UninstallKey9x + "]\r\n" +
                  "\"DEL_INF_0000\"=hex(1):61,0a,62,2e,69,6e,66,00\r\n"  // "a\nb.inf"
                  "\"DEL_INF_0001\"=\"ok.inf\"\r\n\r\n");
    writeWindowsFile("INF/a\nb.inf");
    writeWindowsFile("INF/ok.inf");
    writeDeliveryFile("Win98/DelFile/Inf/c\x1b.inf");
    writeWindowsFile("INF/c\x1b.inf");
    DriverChange change;
    watch(change);
    change.UninstallOldDriver();
    change.DeleteOldDriverFiles();
    EXPECT_TRUE(exists(windowsFile("INF/a\nb.inf")));
    EXPECT_TRUE(exists(windowsFile("INF/c\x1b.inf")));
    EXPECT_FALSE(exists(windowsFile("INF/ok.inf")));
    EXPECT_EQ(nameStaysInside("tab\there"), false);
}

// Two delivery files whose names differ only in case land on one target on this host: the dry
// run names the target the real run writes, each time.
TEST_F(DriverFixture, TheDryRunNamesTheTargetTheRealRunWrites)
{
    writeDeliveryFile("Win98/CopyFile/Win98/Inf/NEW.INF", "upper");
    writeDeliveryFile("Win98/CopyFile/Win98/Inf/new.inf", "lower");
    writeDeliveryFile("Win98/CopyFile/Win98/Inf/Old.inf", "x");
    writeWindowsFile("INF/old.INF");
    auto run = [this](bool dryRun) {
        changes.clear();
        DriverChange change;
        change.setDryRun(dryRun);
        watch(change);
        change.InstallNewDriverFiles();
        return changes;
    };
    const std::vector<std::string> wouldDo = run(true);
    const std::vector<std::string> did = run(false);
    EXPECT_EQ(wouldDo, did);
    ASSERT_EQ(did.size(), 3u);
    EXPECT_NE(did[1].find("-> " + windowsFile("INF/NEW.INF")), std::string::npos) << did[1];
    EXPECT_NE(did[2].find("-> " + windowsFile("INF/old.INF")), std::string::npos) << did[2];
    EXPECT_EQ(readBytes(windowsFile("INF/NEW.INF")), "lower");
}

TEST(OemInfFiles, TheOldDriverIsKnownByItsHardwareIds)
{
    auto utf16 = [](const std::string& text) {
        std::string bytes = "\xFF\xFE";
        for (char c : text) {
            bytes += c;
            bytes += '\0';
        }
        return bytes;
    };
    struct Case {
        std::string start;
        bool oldDriver;
    } cases[] = {
        {"USB\\VID_4E2C&PID_7A01", true},
        {"usb\\vid_4e2b&pid_7a02&rev_0100", true},
        {utf16("%Modem% = Modem, USB\\Vid_4E2C&Pid_7A01"), true},
        {"USB\\VID_4E2C&PID_7A02", false},
        {"VID_4E2C PID_7A01", false},
        {"", false},
        {utf16("USB\\VID_0E2C&PID_7A01"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(oemInfNamesOldDriver(c.start), c.oldDriver) << c.start;
    }
}

}  // namespace
}  // namespace driver_test
