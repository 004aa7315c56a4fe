// USB modem port discovery over registry files written as the product's driver keeps them.
#include <gtest/gtest.h>

#include <string>

#include "config/firmware_config.h"
#include "production/usb_port_discovery.h"
#include "upload/upload_job.h"
#include "support/scratch.h"

namespace {

// One device instance under the DUDE family's USB key, with its port enumerator child.
std::string instance(const std::string& name, const std::string& serialHex, const std::string& driverSpelled,
                     const std::string& driverKey, const std::string& portName)
{
    std::string text = "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\" + name + "]\r\n";
    if (!serialHex.empty()) {
        text += "\"Serial\"=hex:" + serialHex + "\r\n";
    }
    if (!driverSpelled.empty()) {
        text += "\"Driver\"=\"" + driverSpelled + "\"\r\n";
    }
    text += "\r\n";
    if (!portName.empty()) {
        text += "[HKEY_LOCAL_MACHINE\\Enum\\NLPORTENUM\\56KUSB\\USB_VID_4E2C_PID_7A01_" + driverKey + "]\r\n"
                "\"PortName\"=\"" + portName + "\"\r\n\r\n";
    }
    return text;
}

const char* SerialA = "01,02,03,04,05,06,07,08";
const char* KeyA = "0807060504030201";

class UsbPortDiscoveryTest : public ::testing::Test {
protected:
    scratch::TempDir host;
    scratch::ScopedEnv env{"TARVO_HOST", host.dir()};
    FirmwareConfigRecord savedConfig = FirmwareConfig;

    void SetUp() override
    {
        FirmwareConfig.Firmware_from_DUDE_protocol = true;
        FirmwareConfig.ComBase = 1;
        clearKeys();
    }
    void TearDown() override
    {
        FirmwareConfig = savedConfig;
        clearKeys();
    }
    static void clearKeys()
    {
        for (UploadJob& job : uploadJobs) {
            job.deviceKey.clear();
        }
    }
    void registry(const std::string& body) { host.write("registry.reg", "REGEDIT4\r\n\r\n" + body); }
};

TEST_F(UsbPortDiscoveryTest, ArrivalFindsThePortAndBindsTheKey)
{
    registry(instance("Other", "11,11,11,11,11,11,11,11", "MODEM\\\\0001", "MODEM_0001", "COM2") +
             instance("Mine", SerialA, "MODEM\\\\0003", "MODEM_0003", "COM3"));
    EXPECT_EQ(findUsbModemPort("0807060504030201", UsbArrival), 3);
    EXPECT_EQ(uploadJobs[3].deviceKey, "0807060504030201");
    EXPECT_EQ(findUsbModemPort("0807060504030201", UsbArrival), 3);  // bound again, same record

    // Letter case of the key plays no part; the serial text is lower-case hex of bytes 7..0.
    clearKeys();
    EXPECT_EQ(findUsbModemPort("0807060504030201", UsbRemoval), 3);  // never bound: from the registry
    EXPECT_EQ(uploadJobs[3].deviceKey, "0807060504030201");
    registry(instance("Hex", "0a,0b,0c,0d,0e,0f,a0,b1", "M\\\\1", "M_1", "COM5"));
    EXPECT_EQ(findUsbModemPort("B1A00F0E0D0C0B0A", UsbArrival), 5);
    EXPECT_EQ(findUsbModemPort("0102030405060708", UsbArrival), 0);  // the bytes in file order
    registry(instance("Short", "01,02", "M\\\\1", "M_1", "COM2"));  // missing bytes read as 00
    EXPECT_EQ(findUsbModemPort("0000000000000201", UsbArrival), 2);
}

TEST_F(UsbPortDiscoveryTest, RemovalAnswersFromTheRecordsFirst)
{
    uploadJobs[6].deviceKey = "ABCDEF0123456789";
    EXPECT_EQ(findUsbModemPort("abcdef0123456789", UsbRemoval), 6);  // no registry file at all
    EXPECT_EQ(findUsbModemPort("abcdef0123456789", UsbArrival), 0);  // arrivals always look it up
    FirmwareConfig.ComBase = 11;
    EXPECT_EQ(findUsbModemPort("ABCDEF0123456789", UsbRemoval), 16);
    EXPECT_EQ(findUsbModemPort("", UsbRemoval), 0);
    uploadJobs[1].deviceKey = "";
    EXPECT_EQ(findUsbModemPort("", UsbArrival), 0);
}

TEST_F(UsbPortDiscoveryTest, EveryFailedStepEndsTheSearchOrMovesOn)
{
    struct Case {
        const char* what;
        std::string registryBody;
        int32_t expected;
    };
    const std::string good = instance("Good", SerialA, "MODEM\\\\0003", "MODEM_0003", "COM4");
    std::string longSerial = "01";  // 37 bytes: more than the 36-byte buffer holds
    for (int i = 1; i < 37; ++i) {
        longSerial += ",01";
    }
    const Case cases[] = {
        {"another serial: next instance", instance("Short", "01,02", "D\\\\1", "D_1", "COM2") + good, 4},
        {"first match with a valid port wins",
         instance("First", SerialA, "A\\\\1", "A_1", "COM7") + instance("Second", SerialA, "B\\\\1", "B_1", "COM8"), 7},
        {"a port outside the eight is no port: next instance",
         instance("Far", SerialA, "A\\\\1", "A_1", "COM9") + good, 4},
        {"a missing port enumerator child: next instance", instance("NoChild", SerialA, "A\\\\1", "A_1", "") + good, 4},
        {"PortName of 36 bytes does not fit: next instance",
         instance("LongPort", SerialA, "A\\\\1", "A_1", "COM4" + std::string(32, '0')) + good, 4},
        {"a missing Driver: skipped, next instance", instance("NoDriver", SerialA, "", "", "") + good, 4},
        {"a Driver of 36 bytes: skipped, next instance",
         instance("LongDriver", SerialA, std::string(36, 'D'), "", "") + good, 4},
        {"an instance without Serial: skipped, next instance",
         instance("NoSerial", "", "A\\\\1", "A_1", "COM2") + good, 4},
        {"a Serial of 37 bytes: skipped, next instance",
         instance("LongSerial", longSerial, "A\\\\1", "A_1", "COM2") + good, 4},
        {"nothing readable after the skipped ones: none", instance("NoSerial", "", "A\\\\1", "A_1", "COM2"), 0},
        {"COM0 and junk are no port", instance("Zero", SerialA, "A\\\\1", "A_1", "COM0") +
                                          instance("Junk", SerialA, "B\\\\1", "B_1", "COMx") +
                                          instance("Huge", SerialA, "C\\\\1", "C_1", "COM99999999999999") + good, 4},
        {"the other family's key is not read",
         "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2B&PID_7A02\\X]\r\n\"Serial\"=hex:01,02,03,04,05,06,07,08\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clearKeys();
        registry(c.registryBody);
        EXPECT_EQ(findUsbModemPort(KeyA, UsbArrival), c.expected);
        for (int k = FirstProductionJob; k <= LastProductionJob; ++k) {
            EXPECT_EQ(uploadJobs[k].deviceKey, k == c.expected ? KeyA : "") << "record " << k;
        }
    }
}

TEST_F(UsbPortDiscoveryTest, TheSisterBrandUsesItsOwnKeys)
{
    FirmwareConfig.Firmware_from_DUDE_protocol = false;
    FirmwareConfig.ComBase = 11;
    registry("[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2B&PID_7A02\\0001]\r\n\"Serial\"=hex:01,02,03,04,05,06,07,08\r\n"
             "\"Driver\"=\"Ports\\\\0007\"\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\Enum\\KVPORTENUM\\ACFCDC\\USB_VID_4E2B_PID_7A02_Ports_0007]\r\n"
             "\"PortName\"=\"COM18\"\r\n\r\n");
    EXPECT_EQ(findUsbModemPort(KeyA, UsbArrival), 18);
    EXPECT_EQ(uploadJobs[8].deviceKey, KeyA);
}

TEST_F(UsbPortDiscoveryTest, AModemPluggedAgainOnAnotherPortIsBoundThereOnly)
{
    registry(instance("Mine", SerialA, "MODEM\\\\0003", "MODEM_0003", "COM3"));
    ASSERT_EQ(findUsbModemPort(KeyA, UsbArrival), 3);
    registry(instance("Mine", SerialA, "MODEM\\\\0004", "MODEM_0004", "COM4"));
    ASSERT_EQ(findUsbModemPort(KeyA, UsbArrival), 4);
    EXPECT_EQ(uploadJobs[3].deviceKey, "");
    EXPECT_EQ(findUsbModemPort(KeyA, UsbRemoval), 4);
}

TEST_F(UsbPortDiscoveryTest, AStaleEntryIsNamedOnceOnStderrAndHidesNoLaterModem)
{
    registry(instance("Stale\x1b[2J", "", "", "", "") + instance("Good", SerialA, "MODEM\\\\0003", "MODEM_0003", "COM4"));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(findUsbModemPort(KeyA, UsbArrival), 4);
    clearKeys();
    EXPECT_EQ(findUsbModemPort(KeyA, UsbArrival), 4);
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::string line = "skipped the USB device entry HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\Stale\\x1b[2J: "
                             "no \"Serial\" value";
    EXPECT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(said.find(line), said.rfind(line)) << "named once: " << said;
}

}  // namespace
