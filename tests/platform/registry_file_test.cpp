// The key store on $TARVO_HOST/registry.reg: Win32 results, the file as other processes see it,
// a file it cannot fully read, and writers at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/registry.h"
#include "support/scratch.h"

namespace {

using namespace platform;

class RegistryFileTest : public ::testing::Test {
protected:
    scratch::TempDir host;
    scratch::ScopedEnv env{"TARVO_HOST", host.dir()};

    std::string storeText() const
    {
        std::ifstream in(host.file("registry.reg"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static int32_t setText(RegKey key, const std::string& name, const std::string& text)
    {
        return regSetValueEx(key, name, RegTypeSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                             static_cast<uint32_t>(text.size() + 1));
    }
    static std::string queryText(RegKey key, const std::string& name)
    {
        uint8_t buf[300] = {};
        uint32_t size = sizeof buf;
        return regQueryValueEx(key, name, nullptr, buf, &size) == RegOk ? std::string(reinterpret_cast<char*>(buf))
                                                                       : std::string("<none>");
    }
};

TEST_F(RegistryFileTest, QueryHonoursTheCallersBufferSize)
{
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\USB\\Dev", &key), RegOk);
    ASSERT_EQ(setText(key, "Driver", "MODEM\\0003"), RegOk);  // 11 bytes with the zero

    uint8_t buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    uint32_t type = 0;
    uint32_t size = 10;
    EXPECT_EQ(regQueryValueEx(key, "driver", &type, buf, &size), RegMoreData);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(buf[0], 0xAA);  // nothing filled
    size = 11;
    EXPECT_EQ(regQueryValueEx(key, "DRIVER", &type, buf, &size), RegOk);
    EXPECT_EQ(type, RegTypeSz);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "MODEM\\0003");
    size = 0;
    EXPECT_EQ(regQueryValueEx(key, "Driver", nullptr, nullptr, &size), RegOk);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(regQueryValueEx(key, "Missing", nullptr, buf, &size), RegNotFound);
    EXPECT_EQ(regDeleteValue(key, "driver"), RegOk);
    EXPECT_EQ(regDeleteValue(key, "driver"), RegNotFound);
    EXPECT_EQ(regCloseKey(key), RegOk);
    EXPECT_EQ(regCloseKey(key), RegInvalidHandle);
    EXPECT_EQ(regQueryValueEx(key, "Driver", nullptr, buf, &size), RegInvalidHandle);
}

TEST_F(RegistryFileTest, OpenEnumerateAndDeleteWithTheSubtree)
{
    RegKey key = 0;
    EXPECT_EQ(regOpenKeyEx(HkeyLocalMachine, "Enum\\USB", &key), RegNotFound);
    RegKey dev = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\USB\\VID_4E2C&PID_7A01\\Instance1\\Child", &dev), RegOk);
    ASSERT_EQ(setText(dev, "", "default"), RegOk);
    RegKey other = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "enum\\usb\\vid_4e2c&pid_7a01\\ALongerInstanceName", &other), RegOk);

    ASSERT_EQ(regOpenKeyEx(HkeyLocalMachine, "ENUM\\usb\\VID_4E2C&PID_7A01", &key), RegOk);
    char name[300];
    uint32_t chars = sizeof name;
    ASSERT_EQ(regEnumKeyEx(key, 0, name, &chars), RegOk);
    EXPECT_STREQ(name, "Instance1");
    EXPECT_EQ(chars, 9u);
    chars = 10;  // the name and its zero fit exactly
    EXPECT_EQ(regEnumKeyEx(key, 0, name, &chars), RegOk);
    chars = 9;
    EXPECT_EQ(regEnumKeyEx(key, 1, name, &chars), RegMoreData);
    chars = sizeof name;
    EXPECT_EQ(regEnumKeyEx(key, 2, name, &chars), RegNoMoreItems);

    EXPECT_EQ(regDeleteKey(key, "INSTANCE1"), RegOk);
    EXPECT_EQ(queryText(dev, ""), "<none>");
    EXPECT_EQ(setText(dev, "x", "y"), RegKeyDeleted);  // a handle to a removed key changes nothing
    EXPECT_EQ(regDeleteKey(key, "Instance1"), RegNotFound);
    chars = sizeof name;
    ASSERT_EQ(regEnumKeyEx(key, 0, name, &chars), RegOk);
    EXPECT_STREQ(name, "ALongerInstanceName");
    EXPECT_EQ(storeText().find("Child"), std::string::npos);
    for (RegKey k : {key, dev, other}) {
        regCloseKey(k);
    }
}

TEST_F(RegistryFileTest, AFileWithAnUnreadableLineIsNeverRewritten)
{
    const std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\USB\\Dev]\r\n\"Driver\"=\"MODEM\\\\0003\"\r\n"
                             "\"Serial\"=hex:01,02,\\\r\n  03\r\n\"Broken\"=\"C:\\Windows\"\r\n\r\n";
    host.write("registry.reg", text);
    RegKey key = 0;
    ASSERT_EQ(regOpenKeyEx(HkeyLocalMachine, "Enum\\USB\\Dev", &key), RegOk);
    EXPECT_EQ(queryText(key, "Driver"), "MODEM\\0003");  // what can be read is read
    EXPECT_EQ(setText(key, "Driver", "other"), RegAccessDenied);
    EXPECT_EQ(regDeleteValue(key, "Driver"), RegAccessDenied);
    EXPECT_EQ(regDeleteKey(HkeyLocalMachine, "Enum"), RegAccessDenied);
    RegKey made = 0;
    EXPECT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\New", &made), RegAccessDenied);
    EXPECT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\USB", &made), RegOk);  // exists: no change needed
    EXPECT_EQ(storeText(), text);

    std::string notice = regUnreadableNotice();
    EXPECT_NE(notice.find(host.file("registry.reg") + ": line 7"), std::string::npos) << notice;
    EXPECT_NE(notice.find("C:\\Windows"), std::string::npos);
    EXPECT_EQ(regUnreadableNotice(), "");  // said once
    regCloseKey(key);
    regCloseKey(made);
}

TEST_F(RegistryFileTest, EveryCallSeesAChangeMadeMeanwhileByAnotherProcess)
{
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\Shared", &key), RegOk);
    ASSERT_EQ(setText(key, "Mine", "1"), RegOk);
    pid_t child = fork();
    if (child == 0) {
        RegKey k = 0;
        bool ok = regOpenKeyEx(HkeyLocalMachine, "Enum\\Shared", &k) == RegOk && setText(k, "Theirs", "2") == RegOk;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(queryText(key, "Theirs"), "2");
    ASSERT_EQ(setText(key, "Mine", "3"), RegOk);  // our change keeps theirs
    EXPECT_EQ(queryText(key, "Theirs"), "2");
    EXPECT_EQ(queryText(key, "Mine"), "3");
    regCloseKey(key);
}

TEST_F(RegistryFileTest, WritersAtOnceLoseNothingAndReadersNeverSeeHalfAFile)
{
    constexpr int Threads = 3;
    constexpr int Processes = 2;
    constexpr int ValuesEach = 20;
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Load", &key), RegOk);
    ASSERT_EQ(setText(key, "Anchor", "here"), RegOk);

    auto writeMany = [](const std::string& who) {
        RegKey k = 0;
        int failures = regOpenKeyEx(HkeyLocalMachine, "Load", &k) == RegOk ? 0 : 1;
        for (int i = 0; i < ValuesEach; ++i) {
            failures += setText(k, who + "-" + std::to_string(i), who) == RegOk ? 0 : 1;
        }
        regCloseKey(k);
        return failures;
    };
    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        pid_t child = fork();
        if (child == 0) {
            _exit(writeMany("proc" + std::to_string(p)) == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    std::atomic<bool> writing{true};
    std::atomic<int> missedAnchor{0};
    std::thread reader([&] {
        while (writing) {
            missedAnchor += queryText(key, "Anchor") == "here" ? 0 : 1;
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&, t] { failures += writeMany("thread" + std::to_string(t)); });
    }
    for (std::thread& w : writers) {
        w.join();
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    writing = false;
    reader.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(missedAnchor, 0);
    int found = 0;
    for (const std::string who : {"thread0", "thread1", "thread2", "proc0", "proc1"}) {
        for (int i = 0; i < ValuesEach; ++i) {
            found += queryText(key, who + "-" + std::to_string(i)) == who ? 1 : 0;
        }
    }
    EXPECT_EQ(found, (Threads + Processes) * ValuesEach);
    regCloseKey(key);
}

}  // namespace
