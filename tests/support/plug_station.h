// The station as the device tree's tests use it: acting as the NT family (where the driver's
// notices are not heard, so only the device tree can start a row), taking the maker's modems
// (4E2C:7A01) on COM1 to COM8, its started workers finding no port so that no test opens a
// device; and a device change handed to it with what it said on stderr.
// Thread rule: the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/program_state.h"
#include "platform/serial_device.h"
#include "production/station.h"
#include "upload/upload_fixture.h"

namespace station_steps {

class PlugStationTest : public upload_test::UploadFixture {
protected:
    explicit PlugStationTest(UsbPortFinder finder) : station_(finder) {}

    void SetUp() override
    {
        UploadFixture::SetUp();
        savedOs_ = OsFlavor;
        OsFlavor = OsFlavorRecord{};
        OsFlavor.IsNT = 1;
        FirmwareConfig.ComBase = 1;
        FirmwareConfig.Firmware_from_DUDE_protocol = 1;
        platform::setPortOpener([](const std::string&, uint32_t) { return std::unique_ptr<platform::PortDevice>(); });
        station_.prepare();
    }
    void TearDown() override
    {
        station_.stopListening();
        station_.stopAllWorkers();
        platform::setPortOpener({});
        OsFlavor = savedOs_;
        UploadFixture::TearDown();
    }

    // What deviceChange did, and what it said on stderr.
    DeviceAction changeSaying(const platform::DeviceChange& change, std::string* said)
    {
        testing::internal::CaptureStderr();
        DeviceAction action = station_.deviceChange(change);
        *said = testing::internal::GetCapturedStderr();
        return action;
    }

    ProductionStation station_;
    OsFlavorRecord savedOs_;
};

}  // namespace station_steps
