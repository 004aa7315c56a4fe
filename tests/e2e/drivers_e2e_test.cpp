#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/e2e_support.h"

namespace {

namespace fs = std::filesystem;

// The old driver followed is the one of a delivery with Firmware_to_CDC_protocol off.
constexpr const char* DeliveryIni =
    "[INFO]\r\nModel_name=Nelta 56K USB\r\nWindows_ChgDrv_and_Reboot=TRUE\r\nFirmware_to_CDC_protocol=FALSE\r\n";

// The old driver as its installer left it on a Windows 98 SE machine, and a key of another
// device that must stay.
constexpr const char* Registry98 =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NL773056KUSB]\r\n"
    "\"DEL_HKR_0000\"=\"Enum\\\\USB\\\\VID_4E2C&PID_7A01\"\r\n"
    "\"DEL_INF_0000\"=\"mdmx.inf\"\r\n"
    "\"DEL_SYS_0000\"=\"nlusbmdm.sys\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\5&1A2B&0&1]\r\n"
    "\"Driver\"=\"Modem\\\\0003\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0003]\r\n"
    "\"DriverDesc\"=\"USB Modem\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000]\r\n"
    "\"DriverDesc\"=\"Another modem\"\r\n\r\n";

void put(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    e2e::writeFile(path, bytes);
}

class DriversE2eTest : public ::testing::Test {
protected:
    e2e::RunResult drivers(const std::string& winver, std::vector<std::string> options = {})
    {
        std::vector<std::string> args{"drivers"};
        args.insert(args.end(), options.begin(), options.end());
        return e2e::run(delivery_.executable(), args, {{"TARVO_HOST", host_.path()}, {"TARVO_WINVER", winver}});
    }
    std::string host(const std::string& relative) const { return host_.file(relative); }
    std::string delivery(const std::string& relative) const { return delivery_.directory() + "/" + relative; }

    e2e::TempDir host_;
    e2e::Delivery delivery_{DeliveryIni};
};

TEST_F(DriversE2eTest, AWindows98SeMachineLosesTheOldDriverAndGetsTheNewFiles)
{
    put(host("registry.reg"), Registry98);
    put(host("windows/INF/mdmx.inf"), "old");
    put(host("windows/INF/OTHER/Vendormdmx.inf"), "old");
    put(host("windows/SYSTEM/NLUSBMDM.SYS"), "old");
    put(host("windows/SYSTEM/kernel32.dll"), "keep");
    put(delivery("Win98/DelFile/System/nlccport.sys"), "");
    put(host("windows/SYSTEM/nlccport.sys"), "old");
    put(delivery("Win98/CopyFile/Win98/Inf/nlusbcdc.inf"), "new inf");
    put(delivery("Win98/CopyFile/Win98/System/nlusbcdc.sys"), "new sys");
    const std::string registryBefore = e2e::readFile(host("registry.reg"));

    const std::string expected =
        "deleted key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0003\n"
        "deleted key HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\5&1A2B&0&1\n"
        "deleted key HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\n"
        "deleted file " + host("windows/INF/mdmx.inf") + "\n"
        "deleted file " + host("windows/INF/OTHER/Vendormdmx.inf") + "\n"
        "deleted file " + host("windows/SYSTEM/NLUSBMDM.SYS") + "\n"
        "deleted key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NL773056KUSB\n"
        "deleted file " + host("windows/SYSTEM/nlccport.sys") + "\n"
        "copied " + delivery("Win98/CopyFile/Win98/Inf/nlusbcdc.inf") + " -> " + host("windows/INF/nlusbcdc.inf") + "\n"
        "copied " + delivery("Win98/CopyFile/Win98/System/nlusbcdc.sys") + " -> " +
        host("windows/SYSTEM/nlusbcdc.sys") + "\n";

    e2e::RunResult dry = drivers("win98se", {"--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, expected);
    EXPECT_EQ(e2e::readFile(host("registry.reg")), registryBefore);
    EXPECT_TRUE(fs::exists(host("windows/INF/mdmx.inf")));
    EXPECT_FALSE(fs::exists(host("windows/INF/nlusbcdc.inf")));

    e2e::RunResult real = drivers("win98se");
    EXPECT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(real.out, expected);
    const std::string registryAfter = e2e::readFile(host("registry.reg"));
    EXPECT_EQ(registryAfter.find("NL773056KUSB"), std::string::npos);
    EXPECT_EQ(registryAfter.find("VID_4E2C"), std::string::npos);
    EXPECT_EQ(registryAfter.find("Modem\\0003"), std::string::npos);
    EXPECT_NE(registryAfter.find("Modem\\0000]"), std::string::npos);
    EXPECT_EQ(e2e::readFile(host("windows/SYSTEM/kernel32.dll")), "keep");
    EXPECT_EQ(e2e::readFile(host("windows/INF/nlusbcdc.inf")), "new inf");
    EXPECT_EQ(e2e::readFile(host("windows/SYSTEM/nlusbcdc.sys")), "new sys");

    // Once more: the old driver is gone, which stderr says; the new files are copied again.
    e2e::RunResult again = drivers("win98se");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, expected.substr(expected.find("copied ")));
    EXPECT_NE(again.err.find("no uninstall key"), std::string::npos) << again.err;
}

TEST_F(DriversE2eTest, AWindows2000MachineKeepsItsRegistryAndOtherVendorsFiles)
{
    put(host("registry.reg"), Registry98);
    put(host("windows/inf/oem4.inf"), "[Models]\r\n%M%=M,USB\\VID_4E2C&PID_7A01\r\n");
    put(host("windows/inf/oem4.PNF"), "pnf");
    put(host("windows/inf/oem7.inf"), "[Models]\r\n%M%=M,USB\\VID_1234&PID_0001\r\n");
    put(host("windows/inf/oem7.PNF"), "pnf");
    put(host("windows/system32/drivers/nlusbmdm.sys"), "old");
    put(delivery("Win2k/DelFile/Sys32drv/NLUSBMDM.SYS"), "");
    put(delivery("Win2k/CopyFile/Sys32drv/nlusbcdc.sys"), "new sys");
    const std::string registryBefore = e2e::readFile(host("registry.reg"));

    e2e::RunResult result = drivers("win2k");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "deleted file " + host("windows/inf/oem4.inf") + "\n"
                          "deleted file " + host("windows/inf/oem4.PNF") + "\n"
                          "deleted file " + host("windows/system32/drivers/nlusbmdm.sys") + "\n"
                          "copied " + delivery("Win2k/CopyFile/Sys32drv/nlusbcdc.sys") + " -> " +
                          host("windows/system32/drivers/nlusbcdc.sys") + "\n");
    EXPECT_EQ(e2e::readFile(host("registry.reg")), registryBefore);
    EXPECT_TRUE(fs::exists(host("windows/inf/oem7.inf")) && fs::exists(host("windows/inf/oem7.PNF")));
}

// A registry file the store cannot write: every key deletion fails, which stderr names and the
// exit status tells; the dry run knows it beforehand. The file changes are made all the same.
TEST_F(DriversE2eTest, ARegistryFileThatCannotBeWrittenFailsAloudInBothRuns)
{
    const std::string unreadable = std::string(Registry98) + "\"DEL_SYS_0001\"=\"line\\\\nfeed.sys\r\n";
    put(host("registry.reg"), unreadable);
    put(host("windows/INF/mdmx.inf"), "old");
    put(host("windows/SYSTEM/nlusbmdm.sys"), "old");
    put(delivery("Win98/DelFile/System/nlusbmdm.sys"), "");

    for (const bool dryRun : {true, false}) {
        SCOPED_TRACE(dryRun ? "dry run" : "real run");
        e2e::RunResult result = drivers("win98", dryRun ? std::vector<std::string>{"--dry-run"} : std::vector<std::string>{});
        EXPECT_EQ(result.status, 1) << result.err;
        const std::string failing = dryRun ? "would fail to" : "could not";
        for (const char* key : {"System\\CurrentControlSet\\Services\\Class\\Modem\\0003",
                                "Enum\\USB\\VID_4E2C&PID_7A01\\5&1A2B&0&1", "Enum\\USB\\VID_4E2C&PID_7A01",
                                "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NL773056KUSB"}) {
            EXPECT_NE(result.err.find("Tarvo32: " + failing + " delete key HKEY_LOCAL_MACHINE\\" + key +
                                      ": the registry file cannot be written\n"),
                      std::string::npos) << key << "\n" << result.err;
        }
        EXPECT_EQ(result.out.find("deleted key"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("deleted file " + host("windows/INF/mdmx.inf")), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(dryRun ? "4 changes would fail" : "4 changes failed"), std::string::npos) << result.err;
    }
    EXPECT_EQ(e2e::readFile(host("registry.reg")), unreadable);
}

// Listed names that lead nowhere are named, and that the uninstall key goes all the same; a value
// holding a line feed cannot forge a line of the report.
TEST_F(DriversE2eTest, MissingNamesAreSaidAndNoValueForgesALine)
{
    std::string registry = Registry98;
    registry.insert(registry.find("\"DEL_SYS_0000\""), "\"DEL_PNF_0000\"=\"gone.pnf\"\r\n");
    registry.insert(registry.find("\"DEL_SYS_0000\""),
                    "\"DEL_VXD_0000\"=hex(1):78,0a,64,65,6c,65,74,65,64,20,6b,65,79,20,66,6f,72,67,65,64,00\r\n");
    put(host("registry.reg"), registry);
    put(host("windows/SYSTEM/nlusbmdm.sys"), "old");
    e2e::RunResult result = drivers("win98");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("the uninstall key names " + host("windows/gone.pnf") + ", which does not exist"),
              std::string::npos) << result.err;
    EXPECT_NE(result.err.find("the uninstall key was deleted as written all the same: a rerun cannot retry"),
              std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("deleted key forged"), std::string::npos) << result.out;
    EXPECT_EQ(result.err.find("\ndeleted key forged"), std::string::npos) << result.err;
}

TEST_F(DriversE2eTest, NoWindowsFolderAndBadUsage)
{
    e2e::RunResult result = drivers("win98");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Windows folder"), std::string::npos) << result.err;

    result = drivers("win98", {"--force"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("Usage: Tarvo32 drivers"), std::string::npos) << result.err;
}

}  // namespace
