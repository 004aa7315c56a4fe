// The record file on this host: appends from several processes at once losing nothing, a torn
// last line never hiding the records before it, links never followed.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/record_file.h"
#include "support/scratch.h"

namespace {

std::vector<std::string> linesOf(const std::string& content)
{
    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(RecordFileTest, MissingThenAppendedLineByLine)
{
    scratch::ScratchHost host;
    std::string content;
    EXPECT_EQ(platform::readRecordFile(content, nullptr), platform::RecordRead::Missing);
    EXPECT_EQ(platform::recordFilePath(), host.file("upgrades.jsonl"));
    ASSERT_TRUE(platform::appendRecordLine("{\"n\":1}", nullptr));
    ASSERT_TRUE(platform::appendRecordLine("{\"n\":2}", nullptr));
    ASSERT_EQ(platform::readRecordFile(content, nullptr), platform::RecordRead::Read);
    EXPECT_EQ(content, "{\"n\":1}\n{\"n\":2}\n");
}

// Power lost in the middle of an append leaves a line without its end: the next append starts
// on a line of its own, so the torn one stays one bad line and every whole record stays whole.
TEST(RecordFileTest, AppendAfterATornLineStartsAFreshLine)
{
    scratch::ScratchHost host;
    std::ofstream(platform::recordFilePath(), std::ios::binary) << "{\"n\":1}\n{\"n\":2,\"por";
    ASSERT_TRUE(platform::appendRecordLine("{\"n\":3}", nullptr));
    std::string content;
    ASSERT_EQ(platform::readRecordFile(content, nullptr), platform::RecordRead::Read);
    EXPECT_EQ(linesOf(content), (std::vector<std::string>{"{\"n\":1}", "{\"n\":2,\"por", "{\"n\":3}"}));
}

TEST(RecordFileTest, LinksAreNeverFollowed)
{
    scratch::ScratchHost host;
    scratch::TempDir elsewhere;
    const std::string target = elsewhere.write("target", "precious\n");
    std::filesystem::create_symlink(target, platform::recordFilePath());
    std::string why;
    EXPECT_FALSE(platform::appendRecordLine("{\"n\":1}", &why));
    EXPECT_NE(why.find(platform::recordFilePath()), std::string::npos) << why;
    EXPECT_EQ(fileText(target), "precious\n");
    std::string content;
    EXPECT_EQ(platform::readRecordFile(content, &why), platform::RecordRead::Failed);

    // The lock file too.
    std::filesystem::remove(platform::recordFilePath());
    std::filesystem::remove(host.file("upgrades.lock"));
    std::filesystem::create_symlink(target, host.file("upgrades.lock"));
    EXPECT_FALSE(platform::appendRecordLine("{\"n\":1}", &why));
    EXPECT_NE(why.find("upgrades.lock"), std::string::npos) << why;
    EXPECT_EQ(fileText(target), "precious\n");
    EXPECT_FALSE(std::filesystem::exists(platform::recordFilePath()));
}

// Four processes appending at once, each line longer than a pipe's atomic write: every line is
// there, whole, exactly once.
TEST(RecordFileTest, ProcessesAppendingAtOnceLoseNothing)
{
    constexpr int Children = 3;
    constexpr int PerProcess = 60;
    scratch::ScratchHost host;
    const std::string padding(5000, 'p');
    auto appendAll = [&](int process) {
        bool ok = true;
        for (int i = 0; i < PerProcess; ++i) {
            ok = platform::appendRecordLine("{\"p\":" + std::to_string(process) + ",\"i\":" + std::to_string(i) +
                                                ",\"x\":\"" + padding + "\"}",
                                            nullptr) &&
                 ok;
        }
        return ok;
    };
    std::vector<pid_t> children;
    for (int c = 1; c <= Children; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            _exit(appendAll(c) ? 0 : 1);
        }
        children.push_back(pid);
    }
    EXPECT_TRUE(appendAll(0));
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string content;
    ASSERT_EQ(platform::readRecordFile(content, nullptr), platform::RecordRead::Read);
    std::vector<std::string> lines = linesOf(content);
    ASSERT_EQ(lines.size(), static_cast<size_t>((Children + 1) * PerProcess));
    std::set<std::string> distinct(lines.begin(), lines.end());
    EXPECT_EQ(distinct.size(), lines.size());
    for (const std::string& line : lines) {
        const std::string tail = padding + "\"}";
        ASSERT_EQ(line.rfind("{\"p\":", 0), 0u) << line.substr(0, 40);
        ASSERT_GT(line.size(), tail.size());
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    }
}

TEST(RecordFileTest, FolderInItsPlaceIsAFailureWithThePath)
{
    scratch::ScratchHost host;
    std::filesystem::create_directories(platform::recordFilePath());
    std::string why;
    EXPECT_FALSE(platform::appendRecordLine("{}", &why));
    EXPECT_NE(why.find(platform::recordFilePath()), std::string::npos) << why;
}

}  // namespace
