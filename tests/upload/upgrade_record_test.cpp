// The upgrade record: the digest, one line written and read back (also torn and foreign ones),
// the times --since takes, and the records workers append when their runs end: a success, a
// failure with its reason, a stop, a port with no modem (no record) and a record file that cannot
// be written (the upgrade goes on, the program is told once).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/record_file.h"
#include "support/wait_until.h"
#include "tools/modemsim/simulated_ports.h"
#include "upload/json_line.h"
#include "upload/sha256.h"
#include "upload/upload_engine.h"
#include "upload/upgrade_record.h"
#include "upload/upload_fixture.h"
#include "upload/upload_reason.h"
#include "upload/upload_workers.h"

namespace {

using test_support::waitUntil;

TEST(Sha256Test, KnownDigests)
{
    struct Case {
        std::string message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sha256Hex(c.message), c.digest) << c.message.size();
    }
    // Fed in uneven pieces: the same digest.
    Sha256 pieces;
    const std::string text(1000, 'x');
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step % 97 + 13) {
        size_t take = std::min(step, text.size() - at);
        pieces.update(reinterpret_cast<const uint8_t*>(text.data() + at), take);
    }
    EXPECT_EQ(pieces.hexDigest(), sha256Hex(text));
}

UpgradeRecord sampleRecord()
{
    UpgradeRecord r;
    r.start = "2026-12-09T00:30:09Z";
    r.end = "2026-12-09T00:31:40Z";
    r.programVersion = "1.0.0";
    r.machine = "LINE-3";
    r.tool = ToolProduction;
    r.port = "COM3";
    r.serial = "A1B2C3";
    r.mode = "normal";
    r.ati1 = "Nelta \"56K\" \\ USB \x01\xe9";
    r.modemVersion = "V 1.05";
    r.image = "firm ware.bin";
    r.imageBytes = 20480;
    r.imageSha256 = std::string(64, 'a');
    r.outcome = OutcomeFailed;
    r.reasonCode = ReasonBlockRefused;
    r.reason = "block 17 refused four times (NAK)";
    r.sentBytes = 2048;
    r.totalBytes = 20480;
    r.seconds = 91.5;
    return r;
}

TEST(UpgradeRecordLineTest, EveryFieldComesBackByteForByte)
{
    const UpgradeRecord r = sampleRecord();
    const std::string line = recordLine(r);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    UpgradeRecord back;
    ASSERT_TRUE(parseRecordLine(line, back)) << line;
    EXPECT_EQ(recordLine(back), line);
    EXPECT_EQ(back.ati1, r.ati1);
    EXPECT_EQ(back.reasonCode, ReasonBlockRefused);
    EXPECT_EQ(back.imageBytes, 20480);
    EXPECT_DOUBLE_EQ(back.seconds, 91.5);

    // Unknown values are null in the file and come back unknown.
    UpgradeRecord bare;
    bare.start = r.start;
    bare.port = "COM1";
    bare.outcome = OutcomeSucceeded;
    const std::string bareLine = recordLine(bare);
    EXPECT_NE(bareLine.find("\"serial\":null"), std::string::npos) << bareLine;
    EXPECT_NE(bareLine.find("\"reason_code\":null"), std::string::npos) << bareLine;
    ASSERT_TRUE(parseRecordLine(bareLine, back));
    EXPECT_EQ(back.serial, "");
    EXPECT_EQ(back.reasonCode, -1);
    EXPECT_EQ(back.imageBytes, -1);
}

TEST(UpgradeRecordLineTest, TornAndForeignLinesAreNoRecords)
{
    const std::string line = recordLine(sampleRecord());
    // Every cut of a line, as a power failure may leave it, is refused (the whole line is not).
    for (size_t cut = 0; cut < line.size(); ++cut) {
        UpgradeRecord r;
        EXPECT_FALSE(parseRecordLine(line.substr(0, cut), r)) << cut;
    }
    for (const char* foreign : {"", "[]", "{}", "{\"start\":\"2026-12-09T00:30:09Z\",\"port\":\"COM3\"}",
                                "{\"start\":\"yesterday\",\"port\":\"COM3\",\"outcome\":\"failed\"}",
                                "{\"start\":\"2026-12-09T00:30:09Z\",\"port\":\"COM3\",\"outcome\":\"failed\"} x",
                                "{\"start\":\"2026-12-09T00:30:09Z\",\"port\":{\"n\":3},\"outcome\":\"failed\"}"}) {
        UpgradeRecord r;
        EXPECT_FALSE(parseRecordLine(foreign, r)) << foreign;
    }
}

TEST(UpgradeRecordTimeTest, SinceWords)
{
    struct Case {
        const char* word;
        const char* normalised;  // nullptr: refused
    };
    const Case cases[] = {
        {"2026-12-09", "2026-12-09T00:00:00Z"},
        {"2026-12-09T14:05", "2026-12-09T14:05:00Z"},
        {"2026-12-09T14:05:30", "2026-12-09T14:05:30Z"},
        {"2026-12-09T14:05:30Z", "2026-12-09T14:05:30Z"},
        {"2026-12-09 14:05", "2026-12-09T14:05:00Z"},
        {"2026-13-09", nullptr},
        {"2026-12-00", nullptr},
        {"2026-12-9", nullptr},
        {"2026-12-09T24:00", nullptr},
        {"2026-12-09T14", nullptr},
        {"2026-12-09T14:05:3", nullptr},
        {"2026-12-09Z", nullptr},
        {"yesterday", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        std::string out;
        bool ok = parseIsoTime(c.word, out);
        EXPECT_EQ(ok, c.normalised != nullptr) << c.word;
        if (ok && c.normalised) {
            EXPECT_EQ(out, c.normalised) << c.word;
        }
    }
    EXPECT_EQ(isoTime(platform::UtcTime{2026, 1, 2, 3, 4, 5}), "2026-01-02T03:04:05Z");
}

// The worker's records, read back from the record file.
class UpgradeRecordRunTest : public upload_test::UploadFixture {
protected:
    void SetUp() override
    {
        UploadFixture::SetUp();
        takeRecordWarning();  // a failure noted by an earlier test is not this test's
        before_ = fileContent().size();
    }

    static std::string fileContent()
    {
        std::string content;
        platform::readRecordFile(content, nullptr);
        return content;
    }

    // The records appended since the test began.
    std::vector<UpgradeRecord> newRecords() const
    {
        std::string content = fileContent();
        std::vector<UpgradeRecord> found;
        size_t at = before_;
        while (at < content.size()) {
            size_t end = content.find('\n', at);
            UpgradeRecord r;
            EXPECT_TRUE(parseRecordLine(content.substr(at, end - at), r)) << content.substr(at, end - at);
            found.push_back(r);
            at = end == std::string::npos ? content.size() : end + 1;
        }
        return found;
    }

    UploadJob& runProduction(int port, const std::string& serial = {})
    {
        FirmwareConfig.ComBase = 1;
        prepareProductionJobs();
        UploadJob& job = uploadJobs[port];
        job.deviceKey = serial;
        startProductionUpload(port);
        EXPECT_TRUE(waitUntil([&] { return workerEnded(job); }, std::chrono::seconds(20)));
        return job;
    }

    size_t before_ = 0;
};

TEST_F(UpgradeRecordRunTest, SuccessRecordsTheUnitTheImageAndTheTimes)
{
    platform::ScopedVirtualClock clock;
    auto image = writeFirmware(1000);
    modemsim::SimulatedPorts ports;
    ports.add("COM3");
    upload_test::JoinWorkersOnExit joinWorkers;
    UploadJob& job = runProduction(3, "A1B2C3");
    ASSERT_EQ(job.phase.load(), Succeeded);
    EXPECT_TRUE(job.run.recorded);

    std::vector<UpgradeRecord> records = newRecords();
    ASSERT_EQ(records.size(), 1u);
    const UpgradeRecord& r = records[0];
    std::string start;
    EXPECT_TRUE(parseIsoTime(r.start, start));
    EXPECT_TRUE(parseIsoTime(r.end, start));
    EXPECT_LE(r.start, r.end);
    EXPECT_EQ(r.start, job.run.startTime);
    EXPECT_EQ(r.programVersion, TARVO_VERSION);
    EXPECT_EQ(r.tool, ToolDialog);  // no tool named: a production record is the dialog's
    EXPECT_EQ(r.port, "COM3");
    EXPECT_EQ(r.serial, "A1B2C3");
    EXPECT_EQ(r.mode, "normal");
    EXPECT_EQ(r.ati1, "Nelta 56K USB");
    EXPECT_EQ(r.image, "firmware.bin");
    EXPECT_EQ(r.imageBytes, 1000);
    EXPECT_EQ(r.imageSha256, sha256Hex(std::string(image.begin(), image.end())));
    EXPECT_EQ(r.outcome, OutcomeSucceeded);
    EXPECT_EQ(r.reasonCode, -1);
    EXPECT_EQ(r.reason, "");
    EXPECT_EQ(r.sentBytes, 1000);
    EXPECT_EQ(r.totalBytes, 1000);
    // Measured on the run's clock: here the virtual one, which the pause after EOT moves.
    EXPECT_GE(r.seconds, AfterEotPauseMs / 1000.0);
    EXPECT_EQ(takeRecordWarning(), "");
}

TEST_F(UpgradeRecordRunTest, FailureRecordsItsReasonAsStderrSaysIt)
{
    platform::ScopedVirtualClock clock;
    writeFirmware(1000);
    modemsim::ModemSettings settings;
    settings.nakBlockTimes[3] = 4;
    settings.kernelMode = true;
    modemsim::SimulatedPorts ports;
    ports.add("COM2", settings);
    upload_test::JoinWorkersOnExit joinWorkers;
    setRecordTool(ToolUpgrade);
    startWizardUpload(2);
    UploadJob& job = uploadJobs[WizardJobIndex];
    ASSERT_TRUE(waitUntil([&] { return workerEnded(job); }, std::chrono::seconds(20)));
    setRecordTool(nullptr);
    ASSERT_EQ(job.phase.load(), Failed);

    std::vector<UpgradeRecord> records = newRecords();
    ASSERT_EQ(records.size(), 1u);
    const UpgradeRecord& r = records[0];
    EXPECT_EQ(r.tool, ToolUpgrade);
    EXPECT_EQ(r.serial, "");
    EXPECT_EQ(r.mode, "kernel");
    EXPECT_EQ(r.ati1, "");  // kernel mode: no ATI1 dialogue
    EXPECT_EQ(r.outcome, OutcomeFailed);
    EXPECT_EQ(r.reasonCode, ReasonBlockRefused);
    EXPECT_EQ(r.reason, uploadReasonText(ReasonBlockRefused, job.failDetail));
    EXPECT_EQ(r.reason, "block 3 refused four times (NAK)");
    EXPECT_EQ(r.sentBytes, 2 * BlockDataSize);
    EXPECT_EQ(r.totalBytes, 1000);
}

TEST_F(UpgradeRecordRunTest, StopIsRecordedAsStopped)
{
    writeFirmware(1000);
    modemsim::ModemSettings settings;
    settings.noFirstNak = true;
    modemsim::SimulatedPorts ports;
    ports.add("COM5", settings);
    upload_test::JoinWorkersOnExit joinWorkers;
    FirmwareConfig.ComBase = 1;
    prepareProductionJobs();
    UploadJob& job = uploadJobs[5];
    startProductionUpload(5);
    ASSERT_TRUE(waitUntil([&] { return job.phase.load() == AwaitingReceiver; }, std::chrono::seconds(5)));
    killWorkers(FirstProductionJob, LastProductionJob);

    std::vector<UpgradeRecord> records = newRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].outcome, OutcomeStopped);
    EXPECT_EQ(records[0].reasonCode, ReasonStopped);
    EXPECT_EQ(records[0].reason, "stopped by the user");
    EXPECT_EQ(records[0].port, "COM5");
}

// A port where nothing answers leaves no record; the same port with a serial from a device event
// does (the modem was there, it just did not answer).
TEST_F(UpgradeRecordRunTest, OnlyRunsThatReachedAModemAreRecorded)
{
    platform::ScopedVirtualClock clock;
    writeFirmware(1000);
    modemsim::ModemSettings settings;
    settings.silent = true;
    modemsim::SimulatedPorts ports;
    ports.add("COM4", settings);
    upload_test::JoinWorkersOnExit joinWorkers;
    runProduction(4);
    EXPECT_TRUE(newRecords().empty());
    runProduction(4, "SERIAL9");
    std::vector<UpgradeRecord> records = newRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].serial, "SERIAL9");
    EXPECT_EQ(records[0].reasonCode, ReasonNoAnswer);
    EXPECT_EQ(records[0].mode, "");
}

// The record file cannot be written (a folder stands in its place): the upgrade succeeds all the
// same, and the program is told once, with the path.
TEST_F(UpgradeRecordRunTest, UnwritableRecordFileLeavesTheUpgradeAndWarnsOnce)
{
    platform::ScopedVirtualClock clock;
    writeFirmware(300);
    // A folder where the file should be. On Windows the record lies beside the test program,
    // where the tests before this one have appended theirs.
    std::filesystem::remove(platform::recordFilePath());
    std::filesystem::create_directories(platform::recordFilePath());
    modemsim::SimulatedPorts ports;
    ports.add("COM1");
    ports.add("COM2");
    upload_test::JoinWorkersOnExit joinWorkers;
    UploadJob& first = runProduction(1, "S1");
    EXPECT_EQ(first.phase.load(), Succeeded);
    EXPECT_FALSE(first.run.recorded);
    std::string warning = takeRecordWarning();
    EXPECT_NE(warning.find("the upgrade record cannot be written"), std::string::npos) << warning;
    EXPECT_NE(warning.find(platform::recordFilePath()), std::string::npos) << warning;
    EXPECT_EQ(recordWarningSentence("the record. x").substr(0, 4), "The ");

    UploadJob& second = runProduction(2, "S2");
    EXPECT_EQ(second.phase.load(), Succeeded);
    EXPECT_EQ(takeRecordWarning(), "");  // once per program
    std::filesystem::remove(platform::recordFilePath());
}

TEST(JsonLineTest, QuotedTextReadsBack)
{
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    JsonObject fields;
    ASSERT_TRUE(parseFlatObject("{" + jsonQuoted("k") + ":" + jsonQuoted(all) + ", \"n\": -1.5e2, \"t\":true}", fields));
    EXPECT_EQ(fields["k"].text, all);
    EXPECT_EQ(fields["n"].kind, JsonValue::Kind::Number);
    EXPECT_EQ(fields["t"].kind, JsonValue::Kind::True);
    // Characters from another writer come back as UTF-8.
    ASSERT_TRUE(parseFlatObject("{\"k\":\"\\u20ac\"}", fields));
    EXPECT_EQ(fields["k"].text, "\xe2\x82\xac");
}

}  // namespace
