// Scratch space for tests, the one place for it: a fresh temporary folder per test (TempDir),
// environment variables set for the life of a scope and restored afterwards (ScopedEnv), and a
// scratch host (ScratchHost): a temporary TARVO_HOST with its ports/ folder, so no test ever
// touches the user's own host folder or a real serial device.
// Thread rule: set up and torn down on the test's thread; the environment is process-wide, so
// no other thread may read it while a ScopedEnv is made or goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/scratch_os.h"

namespace scratch {

constexpr const char* TempTemplate = "tarvo-test-XXXXXX";

// A fresh temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / TempTemplate).string();
        path_ = makeTempFolder(pattern);
    }
    ~TempDir()
    {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder without a final separator.
    const std::string& path() const { return path_; }
    // The folder with its final separator, the shape ProgramDirectory has.
    std::string dir() const { return path_ + "/"; }
    std::string file(const std::string& name) const { return dir() + name; }

    std::string write(const std::string& name, const std::string& bytes, bool executable = false) const
    {
        std::string p = file(name);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        if (executable) {
            std::filesystem::permissions(p, std::filesystem::perms::owner_all);
        }
        return p;
    }

private:
    std::string path_;
};

class ScopedEnv {
public:
    // value nullopt unsets the variable.
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name)
    {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? setEnvironment(name, *value) : unsetEnvironment(name);
    }
    ~ScopedEnv() { old_ ? setEnvironment(name_, *old_) : unsetEnvironment(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// TARVO_HOST names a fresh temporary folder with an empty ports/ for the life of the object.
class ScratchHost {
public:
    ScratchHost() { std::filesystem::create_directories(dir_.file(PortsFolder)); }

    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    // Where the entry of a port goes: portEntry("com3") is $TARVO_HOST/ports/com3.
    std::string portEntry(const std::string& entryName) const { return dir_.file(PortsFolder) + "/" + entryName; }

private:
    static constexpr const char* PortsFolder = "ports";
    TempDir dir_;
    ScopedEnv env_{"TARVO_HOST", dir_.path()};
};

}  // namespace scratch
