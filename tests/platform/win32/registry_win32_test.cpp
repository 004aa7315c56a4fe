// The key store on the real registry: a scratch key tree below HKEY_LOCAL_MACHINE\Software,
// removed at the end. Deleting a key takes its subkeys along, as the 9x family does, on every
// Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace {

using namespace platform;

constexpr const char* ScratchTree = "Software\\Tarvo32 registry test";

class RegistryWin32 : public ::testing::Test {
protected:
    void SetUp() override
    {
        regDeleteKey(HkeyLocalMachine, ScratchTree);
        ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, ScratchTree, &root_), RegOk);
    }
    void TearDown() override
    {
        regCloseKey(root_);
        regDeleteKey(HkeyLocalMachine, ScratchTree);
    }
    RegKey root_ = 0;
};

TEST_F(RegistryWin32, ValuesRoundTripWithWin32Results)
{
    const std::string text = "Nelta 56K";
    ASSERT_EQ(regSetValueEx(root_, "Model", RegTypeSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                            static_cast<uint32_t>(text.size() + 1)),
              RegOk);
    uint32_t type = 0;
    uint32_t bytes = 0;
    EXPECT_EQ(regQueryValueEx(root_, "model", &type, nullptr, &bytes), RegOk);  // names without case
    EXPECT_EQ(type, RegTypeSz);
    EXPECT_EQ(bytes, text.size() + 1);
    uint8_t small[4];
    bytes = sizeof small;
    EXPECT_EQ(regQueryValueEx(root_, "Model", nullptr, small, &bytes), RegMoreData);
    std::vector<uint8_t> data(bytes);
    EXPECT_EQ(regQueryValueEx(root_, "Model", nullptr, data.data(), &bytes), RegOk);
    EXPECT_STREQ(reinterpret_cast<const char*>(data.data()), text.c_str());

    EXPECT_EQ(regDeleteValue(root_, "Model"), RegOk);
    EXPECT_EQ(regQueryValueEx(root_, "Model", nullptr, nullptr, &bytes), RegNotFound);
    EXPECT_EQ(regQueryValueEx(12345, "Model", nullptr, nullptr, &bytes), RegInvalidHandle);
}

TEST_F(RegistryWin32, EnumeratesAndDeletesWholeSubtrees)
{
    RegKey deep = 0;
    ASSERT_EQ(regCreateKeyEx(root_, "Enum\\USB\\0001\\Device Parameters", &deep), RegOk);
    regCloseKey(deep);
    RegKey other = 0;
    ASSERT_EQ(regCreateKeyEx(root_, "Other", &other), RegOk);
    regCloseKey(other);

    std::vector<std::string> names;
    char name[256];
    for (uint32_t i = 0;; ++i) {
        uint32_t chars = sizeof name;
        int32_t r = regEnumKeyEx(root_, i, name, &chars);
        if (r == RegNoMoreItems) {
            break;
        }
        ASSERT_EQ(r, RegOk);
        EXPECT_EQ(chars, std::strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Enum", "Other"}));
    uint32_t tiny = 2;
    EXPECT_EQ(regEnumKeyEx(root_, 0, name, &tiny), RegMoreData);

    EXPECT_EQ(regDeleteKey(root_, "Enum"), RegOk);
    RegKey gone = 0;
    EXPECT_EQ(regOpenKeyEx(root_, "Enum", &gone), RegNotFound);
    EXPECT_EQ(regOpenKeyEx(root_, "other", &other), RegOk);
    EXPECT_EQ(regCloseKey(other), RegOk);
    EXPECT_EQ(regCloseKey(other), RegInvalidHandle);
}

}  // namespace
