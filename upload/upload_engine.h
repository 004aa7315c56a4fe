// The upload engine: one complete firmware upgrade of the modem on one COM port. It probes and
// identifies the modem, applies the optional version gate and the pre-upload AT commands (normal
// mode only), switches the modem into upload mode ("ATUPX\r", or "ATBKOR\r" then "ATUPXK\r" for
// an image with kernel, with the fix file sent first when the modem refuses "ATBKOR\r" twice),
// and sends the image in 132-byte checksummed blocks answered ACK/NAK, then EOT.
//
// Before any upload-mode command the image to send is opened and checked: a regular, non-empty
// file of at most MaxImageBytes that is not Tarvo32.ini itself (the default image name when the
// INI names none); anything else ends the run with the modem untouched by upload mode.
//
// Results: runUpload leaves its outcome in the job's phase (Succeeded or Failed) and, on failure,
// why in failReason and failDetail, written once at the step that failed; the others return true
// for success. Every run ends through one end step that writes the final phase and
// closes the port and the file, also when keepRunning is cleared (tested inside every wait, so a
// stop takes effect within WaitAbortSliceMs) or the port stops taking writes.
// Thread rule: runUpload runs on an upload worker and touches only its own record, port and file.
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_link.h"

// Control bytes of the block protocol.
constexpr uint8_t Soh = 0x01;  // first byte of every block
constexpr uint8_t Eot = 0x04;  // end of the file, sent once by the engine, not acknowledged
constexpr uint8_t Ack = 0x06;  // the modem received the block
constexpr uint8_t Nak = 0x15;  // the modem is ready (the first one starts the transfer) or asks again

// Block layout: SOH, number, 255 - number, 128 data bytes (a short last read filled with 0x00),
// 8-bit sum of the 128 data bytes.
constexpr int BlockDataSize = 128;  // bytes
constexpr int BlockSize = 132;      // bytes on the wire
constexpr uint8_t BlockFill = 0x00;
constexpr uint8_t FirstBlockNumber = 1;  // of each file sent; then +1 modulo 256

// Attempts and time-outs of one run.
constexpr int ProbeAttempts = 4;
constexpr uint32_t ProbeRetryPauseMs = 5000;     // before each repeated probe
constexpr int KernelGateAttempts = 2;            // "ATBKOR\r", each after drainInput
constexpr uint32_t PromptWaitMs = 10000;         // for the line holding '?'
constexpr int32_t PromptLineCapacity = 100;
constexpr uint32_t FirstNakWaitMs = 30000;       // after "Y\r"
constexpr uint32_t AfterNakPauseMs = 3000;       // then the input is purged
constexpr uint32_t BlockPauseMs = 2;             // before every block
constexpr uint32_t AckWaitMs = 2000;             // after each transmission of a block
constexpr int BlockTransmissions = 4;            // the first and three repeats
constexpr uint32_t GiveUpPauseMs = 200;          // after the last transmission failed
constexpr uint32_t AfterEotPauseMs = 5000;
constexpr uint32_t ClosingPingLimitMs = 16000;   // pingModem after EOT; its result changes nothing
constexpr uint32_t WriteStallLimitMs = 2000;     // a port taking no byte this long has failed
constexpr uint32_t WriteRetryPauseMs = 10;       // between attempts on a port that took nothing
constexpr int MaxPreUploadCommands = 999;        // keys "1" to "999"
// The largest image sent: far above any firmware of the product, far below what would take the
// modem's upload mode for hours (16 MiB is about half an hour on the line).
constexpr uint64_t MaxImageBytes = 16 * 1024 * 1024;

// Commands of the upload dialogue.
constexpr const char* KernelGateCommand = "ATBKOR\r";
constexpr const char* KernelUploadCommand = "ATUPXK\r";
constexpr const char* PlainUploadCommand = "ATUPX\r";
constexpr const char* PromptAnswer = "Y\r";
constexpr char PromptMarker = '?';

// How a run treats a port that cannot be opened at all (no entry, an entry leading nowhere or to
// something that is no serial device, busy, denied): the wizard's run probes it ProbeAttempts
// times like a port whose modem keeps silent; the station's run fails at once with the reason,
// since no modem can answer there. A port that opens gets every probe either way.
enum class UnopenablePort { ProbeAgain, FailAtOnce };

// Runs one upgrade on COM<portNumber>, reporting through uploadJobs[jobIndex].
void runUpload(int portNumber, int jobIndex, UnopenablePort unopenable = UnopenablePort::ProbeAgain);

// Sends every command of the INI section AT_COMMAND_BEFORE_UPLOAD (keys 1, 2, ... up to the
// first empty one), each upper-cased with "\r" appended. True when each was answered "OK" or
// there was none; false for port -1, a command not beginning with AT, or one not answered "OK".
// failure, when given, says which command failed and how.
struct PreUploadFailure {
    int32_t key = 0;       // 1 to 999
    std::string command;   // upper-cased, without "\r"
    std::string answer;    // the modem's last line, empty when it said nothing but the echo
    bool notAt = false;    // the command does not begin with AT (nothing was sent)
};
bool sendPreUploadCommands(SerialPort port, PreUploadFailure* failure = nullptr);

// True when the first byte arriving within AckWaitMs is ACK; any other byte gives false at once.
bool waitForAck(SerialPort port);
// The same wait, giving the byte that arrived, NoReply after AckWaitMs, or PortGone when the port
// failed (the modem pulled out).
constexpr int NoReply = -1;
constexpr int PortGone = -2;
int awaitReply(SerialPort port);

// Lays out one block in out: m (0 to 128) data bytes, the rest filled with 0x00.
void buildBlock(uint8_t number, const uint8_t* data, int m, uint8_t out[BlockSize]);

// Writes all count bytes, writing again whatever part was not accepted. False when a write fails,
// the port accepts nothing for WriteStallLimitMs, or the run is asked to stop.
bool writeAll(SerialPort port, const uint8_t* bytes, int32_t count);
