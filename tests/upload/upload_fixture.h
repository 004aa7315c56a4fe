// Shared set-up of the upload tests: a fresh temporary delivery folder (ProgramDirectory, the
// INI, the firmware files) and host folder per test, the configuration pointed at it, and the
// job records cleared before and after. Restores the previous global state on tear-down.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/job_records.h"
#include "support/scratch_program.h"
#include "config/program_state.h"
#include "config/firmware_config.h"
#include "link/serial_link.h"
#include "upload/upload_job.h"
#include "upload/upload_workers.h"

namespace upload_test {

// Bytes that differ from block to block and never line up with the block size.
inline std::vector<uint8_t> patternBytes(size_t size, uint32_t seed = 7)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

using jobs::clearJob;

// Joins every worker when a test leaves, also through a failed assertion, before the clock and the
// simulated ports it uses go away: declare it after them.
struct JoinWorkersOnExit {
    ~JoinWorkersOnExit() { killWorkers(0, UploadJobCount - 1); }
};

class UploadFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        program_.emplace();
        ASSERT_FALSE(program_->path().empty());
        dir_ = program_->path();
        FirmwareConfig = FirmwareConfigRecord{};
        FirmwareConfig.ATI9_key_string = "KOR";
        FirmwareConfig.ATI1_key_string = "NELTA";
        FirmwareConfig.FirmwarePath = dir_ + "/firmware.bin";
        FirmwareConfig.FixFilePath = dir_ + "/fix.bin";
        writeIni("[INFO]\n");
        for (auto& job : uploadJobs) {
            clearJob(job);
        }
    }

    void TearDown() override
    {
        for (auto& job : uploadJobs) {
            clearJob(job);
        }
        program_.reset();
    }

    void writeIni(const std::string& text) { writeFile(iniPath(), text); }

    std::vector<uint8_t> writeFirmware(size_t size, uint32_t seed = 7)
    {
        return writeImage(FirmwareConfig.FirmwarePath, size, seed);
    }

    std::vector<uint8_t> writeFix(size_t size, uint32_t seed = 11)
    {
        return writeImage(FirmwareConfig.FixFilePath, size, seed);
    }

    static std::vector<uint8_t> writeImage(const std::string& path, size_t size, uint32_t seed)
    {
        std::vector<uint8_t> bytes = patternBytes(size, seed);
        writeFile(path, std::string(bytes.begin(), bytes.end()));
        return bytes;
    }

    static void writeFile(const std::string& path, const std::string& text)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

    // The scratch TARVO_HOST, for tests that lay out port entries of their own.
    const scratch::ScratchHost& host() const { return program_->host(); }

    std::string dir_;

private:
    std::optional<scratch::ScratchProgram> program_;
};

}  // namespace upload_test
