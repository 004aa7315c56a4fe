// Workers and the progress rule: records by port, starting and collecting workers, stopping
// them quickly, and the one percentage rule every display uses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/threads.h"
#include "tools/modemsim/simulated_ports.h"
#include "upload/upload_engine.h"
#include "upload/upload_fixture.h"
#include "upload/upload_workers.h"
#include "support/wait_until.h"

namespace {

using upload_test::UploadFixture;
using Clock = std::chrono::steady_clock;

TEST(ProgressPercentTest, Table)
{
    struct Case {
        uint32_t sent;
        uint32_t total;
        uint32_t percent;
    };
    for (Case c : {Case{505, 1000, 49}, Case{50, 1000, 4}, Case{0, 1000, 0}, Case{1000, 1000, 98},
                   Case{7, 0, 0}, Case{999, 1000, 97}, Case{1, 3, 32}, Case{128, 300, 41},
                   Case{262143, 262144, 97},
                   // Past 2^32 / 98 bytes the 32-bit product would wrap.
                   Case{50000000, 100000000, 49}, Case{4000000000u, 4000000000u, 98},
                   Case{4294967295u, 4294967295u, 98}}) {
        EXPECT_EQ(progressPercent(c.sent, c.total), c.percent) << c.sent << "/" << c.total;
    }
}

TEST(PercentTextTest, LeadingBlankBelowTen)
{
    EXPECT_EQ(percentText(0), " 0%");
    EXPECT_EQ(percentText(4), " 4%");
    EXPECT_EQ(percentText(49), "49%");
    EXPECT_EQ(percentText(100), "100%");
}

TEST(PollProgressTest, ShownOnlyWhenItRises)
{
    UploadJob job;
    upload_test::clearJob(job);

    // Size not known yet: nothing computed.
    job.sentBytes.store(10);
    ProgressView view = pollProgress(job);
    EXPECT_FALSE(view.changed);
    EXPECT_EQ(job.percent, 0);

    job.totalBytes.store(1000);
    job.sentBytes.store(50);
    view = pollProgress(job);
    EXPECT_TRUE(view.changed);
    EXPECT_EQ(view.percent, 4);
    EXPECT_EQ(percentText(view.percent), " 4%");

    job.sentBytes.store(505);
    view = pollProgress(job);
    EXPECT_TRUE(view.changed);
    EXPECT_EQ(view.percent, 49);
    EXPECT_FALSE(view.allAcknowledged);

    // The same value again, and a stale lower read: nothing changes, the display stays at 49.
    EXPECT_FALSE(pollProgress(job).changed);
    job.sentBytes.store(300);
    view = pollProgress(job);
    EXPECT_FALSE(view.changed);
    EXPECT_EQ(view.percent, 49);
    EXPECT_EQ(job.shownPercent, 49);
    EXPECT_EQ(job.percent, 29);

    job.sentBytes.store(1000);
    view = pollProgress(job);
    EXPECT_TRUE(view.allAcknowledged);
    EXPECT_EQ(view.percent, 98);
}

TEST(ProductionRecordsTest, RecordOfEachPortForBothBases)
{
    int savedBase = FirmwareConfig.ComBase;
    struct Case {
        int base;
        int port;
        int record;
    };
    for (Case c : {Case{1, 1, 1}, Case{1, 8, 8}, Case{1, 9, -1}, Case{1, 0, -1}, Case{11, 15, 5},
                   Case{11, 11, 1}, Case{11, 18, 8}, Case{11, 19, -1}, Case{11, 10, -1}, Case{11, 3, -1}}) {
        FirmwareConfig.ComBase = c.base;
        EXPECT_EQ(productionJobIndex(c.port), c.record) << c.base << " " << c.port;
    }
    FirmwareConfig.ComBase = savedBase;
}

using UploadWorkersTest = UploadFixture;
using test_support::waitUntil;

TEST_F(UploadWorkersTest, PrepareStartAndStopProductionRecords)
{
    FirmwareConfig.ComBase = 11;
    uploadJobs[3].deviceKey = "USB\\VID_1234";
    uploadJobs[3].phase.store(Failed);
    prepareProductionJobs();
    for (int k = 1; k <= 8; ++k) {
        EXPECT_EQ(uploadJobs[k].port.load(), 10 + k);
        EXPECT_EQ(uploadJobs[k].portHandle.load(), NoPort);
        EXPECT_EQ(uploadJobs[k].keepRunning.load(), 1);
        EXPECT_EQ(uploadJobs[k].threadId, -1);
        EXPECT_EQ(uploadJobs[k].phase.load(), Idle);
        EXPECT_TRUE(uploadJobs[k].deviceKey.empty());
    }
    stopProductionPort(15);
    EXPECT_EQ(uploadJobs[5].keepRunning.load(), 0);
    EXPECT_EQ(uploadJobs[5].resetCountdown, ResetCountdownPolls);
    stopProductionPort(19);  // not a production port: no record touched
    EXPECT_EQ(uploadJobs[8].keepRunning.load(), 1);

    startProductionUpload(10);
    startProductionUpload(19);
    for (const auto& job : uploadJobs) {
        EXPECT_EQ(job.threadHandle, nullptr);
    }
}

// A start is ignored while the record still holds its worker, also after the run has ended but
// before the poll collected it; the next start after the poll runs again.
TEST_F(UploadWorkersTest, StartIgnoredWhileTheHandleIsHeld)
{
    platform::ScopedVirtualClock clock;  // the absent modem's probe pauses cost no real time
    upload_test::JoinWorkersOnExit joinWorkers;
    FirmwareConfig.ComBase = 1;
    prepareProductionJobs();
    UploadJob& job = uploadJobs[4];
    startProductionUpload(4);
    ASSERT_NE(job.threadHandle, nullptr);
    platform::Thread* first = job.threadHandle;
    int32_t firstId = job.threadId;
    ASSERT_TRUE(waitUntil([&] { return job.threadEnded.load() != 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(job.phase.load(), Failed);

    startProductionUpload(4);
    EXPECT_EQ(job.threadHandle, first);
    EXPECT_EQ(job.threadId, firstId);
    EXPECT_EQ(job.phase.load(), Failed);

    EXPECT_TRUE(workerEnded(job));
    EXPECT_EQ(job.threadHandle, nullptr);
    EXPECT_FALSE(workerEnded(job));

    startProductionUpload(4);
    ASSERT_NE(job.threadHandle, nullptr);
    EXPECT_NE(job.threadId, firstId);
    killWorkers(FirstProductionJob, LastProductionJob);
    EXPECT_EQ(job.threadHandle, nullptr);
    EXPECT_EQ(platform::openDeviceCount(), 0);
}

TEST_F(UploadWorkersTest, WizardWorkerRunsOnRecordZero)
{
    platform::ScopedVirtualClock clock;
    auto image = writeFirmware(1000);
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM2");
    upload_test::JoinWorkersOnExit joinWorkers;
    UploadJob& job = uploadJobs[WizardJobIndex];
    job.shownPercent = 40;
    job.deviceKey = "left over";
    startWizardUpload(2);
    ASSERT_NE(job.threadHandle, nullptr);
    EXPECT_EQ(job.port.load(), 2);
    EXPECT_EQ(job.shownPercent, 0);
    EXPECT_TRUE(job.deviceKey.empty());
    ASSERT_TRUE(waitUntil([&] { return workerEnded(job); }, std::chrono::seconds(10)));
    EXPECT_EQ(job.phase.load(), Succeeded);
    EXPECT_EQ(job.threadHandle, nullptr);
    ProgressView view = pollProgress(job);
    EXPECT_TRUE(view.allAcknowledged);
    EXPECT_EQ(view.percent, 98);
    EXPECT_EQ(modem.images()[0].trimmed(image.size()), image);
}

// Stopping works inside the engine's long waits, not only before a block: the 30 s wait for the
// first NAK ends within a fraction of a second, and the run still closes its port.
TEST_F(UploadWorkersTest, KillDuringTheLongestWaitReturnsAtOnce)
{
    writeFirmware(1000);
    modemsim::ModemSettings settings;
    settings.noFirstNak = true;
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM5", settings);
    upload_test::JoinWorkersOnExit joinWorkers;
    UploadJob& job = uploadJobs[WizardJobIndex];
    startWizardUpload(5);
    ASSERT_TRUE(waitUntil([&] { return job.phase.load() == AwaitingReceiver; }, std::chrono::seconds(5)));
    auto start = Clock::now();
    killWorkers(WizardJobIndex, WizardJobIndex);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(took.count(), 500);
    EXPECT_EQ(job.threadHandle, nullptr);
    EXPECT_EQ(job.phase.load(), Failed);
    EXPECT_EQ(job.portHandle.load(), NoPort);
    EXPECT_FALSE(modem.isOpen());
    EXPECT_EQ(job.failReason.load(), ReasonStopped);  // not "no NAK": the wait was cut short
}

// keepRunning cleared during a transfer on a line paced at 115200 baud: the worker ends before
// its next block, failed, with what was acknowledged so far.
TEST_F(UploadWorkersTest, StopDuringTheTransferEndsBeforeTheNextBlock)
{
    writeFirmware(64 * 1024);
    modemsim::ModemSettings settings;
    settings.baud = 115200;
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM6", settings);
    upload_test::JoinWorkersOnExit joinWorkers;
    FirmwareConfig.ComBase = 1;
    prepareProductionJobs();
    UploadJob& job = uploadJobs[6];
    startProductionUpload(6);
    ASSERT_TRUE(waitUntil([&] { return job.sentBytes.load() >= 10 * BlockDataSize; }, std::chrono::seconds(10)));
    stopProductionPort(6);
    ASSERT_TRUE(waitUntil([&] { return workerEnded(job); }, std::chrono::milliseconds(500)));
    EXPECT_EQ(job.phase.load(), Failed);
    uint32_t sent = job.sentBytes.load();
    EXPECT_LT(sent, 64u * 1024u);
    // The stop may land while the last block's ACK is on its way: the modem has then counted
    // one block more than the sender saw acknowledged, never more than that.
    uint32_t received = modem.counters().blocksGood * BlockDataSize;
    EXPECT_TRUE(received == sent || received == sent + BlockDataSize) << received << " vs " << sent;
    EXPECT_EQ(modem.counters().eots, 0u);
    EXPECT_FALSE(modem.isOpen());
    // The stop came from the modem's removal, and its reason says so.
    EXPECT_EQ(job.failReason.load(std::memory_order_acquire), ReasonPulledOut);

    // Let it run again: a new run starts from the probe and block 1.
    resumeProductionPort(6);
    ASSERT_NE(job.threadHandle, nullptr);
    EXPECT_EQ(job.keepRunning.load(), 1);
    killWorkers(FirstProductionJob, LastProductionJob);
}

}  // namespace
